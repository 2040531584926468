var g_demoGlobal = true;
