var g_demoStart = true;
