var g_demoBasic = true;
