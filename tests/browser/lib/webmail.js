'use strict';
// A small loopback web server that plays the host of the module for the browser tests: every webmail request
// runs through the real module with wkctl (the request's URL, cookies, language and user agent as the
// browser sent them), and the browser gets what the module made of it: its own answer (base page, blocked
// browser redirect), or the sample page with the module's edits and headers. The guard's files come from the
// installation. A second server on another port plays the outside web site.
//
// WK_WEBMAIL_URL, when set, points the browser at a real host instead (the Apache demo); this server then only
// plays the outside site, and what the tests read from its request list (the logoff requests) and its modes
// (alert on unload, automatic logoff) have to come from that host's log and settings.

const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFile, execFileSync } = require('node:child_process');

const CSM_PREFIX = '/bkcsm/v1';
const CSM_SHORT_PREFIX = CSM_PREFIX.slice(0, 5);
const SCRIPT_FOLDER = 'Wendrake/BKScripts/Wendrake/1.2';
const USER = 'EXAMPLE\\jane';
const USER_SID = 'S-1-5-21-1004336348-1177238915-682003330-1001';
// Link criteria 2 is served by the settings group that switches automatic logoff on.
const AUTO_LOGOFF_CRITERIA = 2;

const PIXEL = Buffer.from('R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7', 'base64');

// The links a webmail page offers, put into the sample page before the module sees it.
function fixtures(outside) {
    return `
<div id="bkwkTestLinks" style="position:absolute;top:4px;right:4px;background:#eef;padding:4px">
<a id="outside" href="${outside}/landing.html?from=link">outside</a>
<a id="outside-blank" href="${outside}/landing.html?from=blank" target="_blank">outside, new window</a>
<a id="inside" href="/owa/inside.html">inside</a>
<a id="inside-abs" href="/owa/?ae=Folder&amp;t=IPF.Note">inside, absolute</a>
<a id="script-link" href="javascript:void(0)">script</a>
<a id="mail-link" href="mailto:jane@example.com">mail</a>
<button id="open-outside" type="button" onclick="window.open('${outside}/landing.html?from=open')">open</button>
<form id="outside-form" method="get" action="${outside}/landing.html"><input name="q" value="form">
<button id="outside-submit" type="submit">search</button></form>
</div>
`;
}

function installation(sRoot) {
    if (process.env.WK_INSTALL)
        return process.env.WK_INSTALL;
    const sBuild = process.env.WK_BUILD_DIR;
    if (!sBuild)
        throw new Error('set WK_BUILD_DIR (a build folder) or WK_INSTALL (an installation)');
    const sPrefix = path.join(sRoot, 'install');
    execFileSync('cmake', ['--install', sBuild, '--prefix', sPrefix], { stdio: 'ignore' });
    return sPrefix;
}

function setSetting(sInstall, nId, sValue) {
    const sFile = path.join(sInstall, 'Wendrake/Settings/SWSettings.xml');
    const sText = fs.readFileSync(sFile, 'utf8');
    const re = new RegExp(`(<ITEM ID="${nId}" [^>]*VALUE=")[^"]*"`, 'g');
    fs.writeFileSync(sFile, sText.replace(re, `$1${sValue}"`));
}

function parseResponse(sText) {
    const nEnd = sText.indexOf('\r\n\r\n');
    const lines = sText.slice(0, nEnd < 0 ? sText.length : nEnd).split('\r\n');
    const status = Number((lines.shift() || '').split(' ')[1]) || 200;
    const headers = lines.map((l) => [l.slice(0, l.indexOf(':')), l.slice(l.indexOf(':') + 1).trim()]);
    return { status, headers, body: nEnd < 0 ? '' : sText.slice(nEnd + 4) };
}

function headerName(s) {
    return s.replace(/:$/, '');
}

class CWebmail {
    constructor() {
        this.hits = [];
        // Settings of SWSettings.xml for the next requests (by ID), and automatic logoff by link criteria.
        this.mode = { settings: {}, autoLogoff: false };
        this.installs = new Map();
    }

    async start() {
        this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'wk-browser-'));
        this.source = installation(this.root);
        this.plain = this.installFor({});
        this.wkctl = path.join(this.plain, 'Wendrake/bin/wkctl');
        this.pages = path.join(this.source, 'Wendrake/Samples/Pages');
        this.outside = await listen((req, res) => this.serveOutside(req, res));
        this.server = await listen((req, res) => {
            this.serveWebmail(req, res).catch((e) => {
                res.writeHead(500, { 'Content-Type': 'text/plain' });
                res.end(String(e && e.stack || e));
            });
        });
        this.outsideUrl = `http://127.0.0.1:${this.outside.address().port}`;
        this.baseUrl = process.env.WK_WEBMAIL_URL || `http://127.0.0.1:${this.server.address().port}/owa/`;
        return this;
    }

    async stop() {
        await Promise.all([this.server, this.outside].filter(Boolean).map((s) => new Promise((r) => {
            s.closeAllConnections();
            s.close(r);
        })));
        if (this.root)
            fs.rmSync(this.root, { recursive: true, force: true });
    }

    // Most settings are read once when the module starts (every wkctl run): one installation per set of values.
    installFor(settings) {
        const sKey = JSON.stringify(Object.entries(settings).sort());
        if (!this.installs.has(sKey)) {
            const sDir = path.join(this.root, `install-${this.installs.size}`);
            fs.cpSync(this.source, sDir, { recursive: true });
            for (const [sId, sValue] of Object.entries(settings))
                setSetting(sDir, sId, sValue);
            this.installs.set(sKey, sDir);
        }
        return this.installs.get(sKey);
    }

    hitsOf(sPrefix) {
        return this.hits.filter((h) => h.path.toLowerCase().startsWith(sPrefix.toLowerCase()));
    }

    serveOutside(req, res) {
        this.hits.push({ site: 'outside', path: req.url, method: req.method });
        res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
        res.end('<!DOCTYPE html><html><head><title>Outside</title></head><body><h1>Another web site</h1></body></html>');
    }

    async serveWebmail(req, res) {
        const url = new URL(req.url, 'http://127.0.0.1');
        const sPath = url.pathname;
        this.hits.push({ site: 'webmail', path: req.url, method: req.method });
        const sLower = sPath.toLowerCase();
        if (sLower.startsWith('/owa/bkscripts/'))
            return this.serveGuardFile(sPath, res);
        if (sLower === '/owa/8.1.240.5/scripts/premium/startpage.js')
            return send(res, 200, { 'Content-Type': 'text/javascript' }, 'function stpOnLd() {}');
        // The webmail theme's images: a transparent pixel stands in for each.
        if (/^\/owa\/[\d.]+\/themes\/.*\.gif$/.test(sLower))
            return send(res, 200, { 'Content-Type': 'image/gif' }, PIXEL);
        if (sLower === '/owa/inside.html')
            return send(res, 200, { 'Content-Type': 'text/html' },
                '<!DOCTYPE html><html><head><title>Inside</title></head><body>inside webmail</body></html>');
        if (sLower === '/owa/auth/logoff.aspx')
            return this.runModule(req, res, url, 18, '<!DOCTYPE html><html><head><title>Logged off</title>' +
                '</head><body>You have logged off.</body></html>');
        if (sLower === '/owa/' || sLower === '/owa') {
            const bSubframe = url.searchParams.has('bkwksubfr');
            const sSample = url.searchParams.get('view') === 'basic' ? 'basic-messageview' : 'premium-startpage';
            const sPage = fs.readFileSync(path.join(this.pages, `${sSample}.utf-8.html`), 'utf8')
                .replace('</body>', fixtures(this.outsideUrl) + '</body>');
            return this.runModule(req, res, url, bSubframe ? 16 : 1, sPage);
        }
        return send(res, 404, { 'Content-Type': 'text/plain' }, 'not found');
    }

    serveGuardFile(sPath, res) {
        // BKScripts/Wendrake/1.2/ then the cached-script prefix's short part glued to the file name.
        const m = /^\/owa\/bkscripts\/wendrake\/1\.2\/+(.*)$/i.exec(sPath);
        let sName = m ? m[1] : '';
        if (sName.startsWith(CSM_SHORT_PREFIX.slice(1)))
            sName = sName.slice(CSM_SHORT_PREFIX.length - 1);
        const sFile = path.join(this.plain, SCRIPT_FOLDER, path.basename(sName));
        if (!sName || !fs.existsSync(sFile))
            return send(res, 404, { 'Content-Type': 'text/plain' }, 'not found');
        const sType = sFile.endsWith('.js') ? 'text/javascript; charset=utf-8' : 'text/html; charset=utf-8';
        return send(res, 200, { 'Content-Type': sType }, fs.readFileSync(sFile));
    }

    async runModule(req, res, url, nType, sBody) {
        const sBodyFile = path.join(this.root, `body-${process.hrtime.bigint()}.html`);
        const sOutFile = sBodyFile + '.out';
        fs.writeFileSync(sBodyFile, sBody);
        const h = req.headers;
        const args = ['run', '--install', this.installFor(this.mode.settings),
            '--json', '--method', req.method, '--url', url.pathname + url.search,
            '--subscription-type', String(nType),
            '--link-criteria', String(this.mode.autoLogoff ? AUTO_LOGOFF_CRITERIA : 0),
            '--server', `http://${h.host}`, '--virtual-dir', '/owa',
            '--server-variable', `HEADER_BK_CSMPREFIX=${CSM_PREFIX}`,
            '--user', USER, '--user-sid', USER_SID, '--status', '200',
            '--body-file', sBodyFile, '--out', sOutFile];
        for (const [sName, sOption] of [['user-agent', '--user-agent'], ['cookie', '--cookie'],
            ['accept-language', '--accept-language'], ['referer', '--referer']]) {
            if (h[sName])
                args.push(sOption, h[sName]);
        }
        const record = JSON.parse(await run(this.wkctl, args));
        try {
            this.answer(res, record, fs.existsSync(sOutFile) ? fs.readFileSync(sOutFile) : Buffer.from(sBody));
        } finally {
            fs.rmSync(sBodyFile, { force: true });
            fs.rmSync(sOutFile, { force: true });
        }
    }

    answer(res, record, body) {
        const redirect = record.screening && record.screening.redirect;
        if (redirect) {
            const headers = [['Location', redirect.location]];
            for (const c of redirect.setCookies)
                headers.push(['Set-Cookie', c]);
            return sendRaw(res, Number(redirect.status.split(' ')[0]), headers, '');
        }
        for (const n of record.notifications) {
            if (n.responses.length) {
                const r = parseResponse(n.responses[n.responses.length - 1].text);
                return sendRaw(res, r.status, r.headers.filter(([k]) => !/^content-length$/i.test(k)), r.body);
            }
        }
        const headers = [['Content-Type', 'text/html; charset=utf-8']];
        for (const n of record.notifications) {
            for (const a of n.headersAdded.concat(n.headersSet)) {
                if (a.accepted)
                    headers.push([headerName(a.name), a.value]);
            }
        }
        return sendRaw(res, 200, headers, body);
    }
}

function run(sFile, args) {
    return new Promise((resolve, reject) => {
        execFile(sFile, args, { maxBuffer: 64 << 20 }, (err, stdout, stderr) => {
            // Exit status 0 is a completed run, whatever the module decided.
            if (err)
                reject(new Error(`wkctl failed: ${err.message}\n${stderr}`));
            else
                resolve(stdout);
        });
    });
}

function send(res, nStatus, headers, body) {
    res.writeHead(nStatus, headers);
    res.end(body);
}

function sendRaw(res, nStatus, headers, body) {
    const flat = [];
    for (const [k, v] of headers)
        flat.push(k, v);
    res.writeHead(nStatus, flat);
    res.end(body);
}

function listen(handler) {
    return new Promise((resolve, reject) => {
        const server = http.createServer(handler);
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => resolve(server));
    });
}

module.exports = { CWebmail };
