<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Demo webmail - signed out</title></head>
<body><h1>You are signed out</h1><p><a href="/owa/auth/logon.html">Sign in again</a></p></body></html>
