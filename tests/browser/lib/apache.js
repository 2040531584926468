'use strict';
// Apache httpd on loopback with mod_wendrake and the worker in front of the demo webmail site, as an
// administrator runs it: one server per set of worker settings (most settings are read once when the worker
// starts), each from a temporary server root with its own copy of the installation. The site is the installed
// demo site with the links a webmail page offers put into its pages. Every server is stopped and its root
// removed, also when a test fails or the process is interrupted.

const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { execFile, execFileSync, spawnSync } = require('node:child_process');

const APACHE = process.env.APACHE || '/usr/sbin/apache2';
const APACHE_MODULES = process.env.APACHE_MODULES || '/usr/lib/apache2/modules';
const DEMO = 'Wendrake/apache/demo';
const USER = 'jane';
const PASSWORD = 'secret';
const PIXEL = Buffer.from('R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7', 'base64');

function available() {
    return fs.existsSync(APACHE) ? null : `no Apache at ${APACHE} (set APACHE)`;
}

// The links a webmail page offers, put into the demo's pages.
function fixtures(sOutside) {
    return `
<div id="bkwkTestLinks" style="position:absolute;top:4px;right:4px;background:#eef;padding:4px">
<a id="outside" href="${sOutside}/landing.html?from=link">outside</a>
<a id="outside-blank" href="${sOutside}/landing.html?from=blank" target="_blank">outside, new window</a>
<a id="inside" href="/owa/inside.html">inside</a>
<a id="inside-abs" href="/owa/?ae=Folder&amp;t=IPF.Note">inside, absolute</a>
<a id="script-link" href="javascript:void(0)">script</a>
<a id="mail-link" href="mailto:jane@example.com">mail</a>
<button id="open-outside" type="button" onclick="window.open('${sOutside}/landing.html?from=open')">open</button>
<form id="outside-form" method="get" action="${sOutside}/landing.html"><input name="q" value="form">
<button id="outside-submit" type="submit">search</button></form>
</div>
`;
}

function html(sTitle, sBody) {
    return `<!DOCTYPE html><html><head><title>${sTitle}</title></head><body>${sBody}</body></html>`;
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

// A copy of the installation whose settings a server may change; the large binaries are linked, not copied
// (the worker finds its folders from the path it was loaded from, so a link in the copy serves the copy).
function copyInstallation(sFrom, sTo) {
    fs.cpSync(sFrom, sTo, { recursive: true, filter: (s) => path.dirname(s) !== path.join(sFrom, 'Wendrake/bin') });
    for (const sName of fs.readdirSync(path.join(sFrom, 'Wendrake/bin'))) {
        const [sSource, sTarget] = [path.join(sFrom, 'Wendrake/bin', sName), path.join(sTo, 'Wendrake/bin', sName)];
        try {
            fs.linkSync(sSource, sTarget);
        } catch {
            fs.copyFileSync(sSource, sTarget);
        }
    }
}

function setSettings(sInstall, settings) {
    const sFile = path.join(sInstall, 'Wendrake/Settings/SWSettings.xml');
    let sText = fs.readFileSync(sFile, 'utf8');
    for (const [sId, sValue] of Object.entries(settings)) {
        const re = new RegExp(`(<ITEM ID="${sId}" [^>]*VALUE=")[^"]*"`, 'g');
        if (!re.test(sText))
            throw new Error(`no settings item ${sId}`);
        sText = sText.replace(re, `$1${sValue}"`);
    }
    fs.writeFileSync(sFile, sText);
}

function makeSite(sInstall, sSite, sOutside) {
    fs.cpSync(path.join(sInstall, DEMO, 'site'), sSite, { recursive: true });
    const sOwa = path.join(sSite, 'owa');
    for (const [sPage, sFrom] of [['index.html', 'index.html'], ['basic.html', 'basic.html']]) {
        const sText = fs.readFileSync(path.join(sOwa, sFrom), 'utf8');
        fs.writeFileSync(path.join(sOwa, sPage), sText.replace('</body>', fixtures(sOutside) + '</body>'));
    }
    fs.writeFileSync(path.join(sOwa, 'inside.html'), html('Inside', 'inside webmail'));
    fs.writeFileSync(path.join(sSite, 'pixel.gif'), PIXEL);
    // The start page calls the webmail's load handler.
    fs.writeFileSync(path.join(sOwa, '8.1.240.5/scripts/premium/startpage.js'), 'function stpOnLd() {}\n');
}

function writeConfig(sInstall, sRoot, ports) {
    let sConf = fs.readFileSync(path.join(sInstall, DEMO, 'httpd.conf.in'), 'utf8');
    const values = { ROOT: sRoot, PORT: ports[0], UPSTREAM_PORT: ports[1], INSTALL: sInstall,
        SITE: path.join(sRoot, 'site'), APACHE_MODULES };
    for (const [sName, value] of Object.entries(values))
        sConf = sConf.replaceAll(`@${sName}@`, String(value));
    // The webmail theme's images: a transparent pixel stands in for each.
    sConf += `LoadModule alias_module ${APACHE_MODULES}/mod_alias.so\n` +
        `AliasMatch "^/owa/[0-9.]+/themes/.+\\.gif$" "${path.join(sRoot, 'site', 'pixel.gif')}"\n`;
    // Apache's children never run as root.
    if (process.getuid && process.getuid() === 0)
        sConf += 'User nobody\nGroup nogroup\n';
    fs.writeFileSync(path.join(sRoot, 'httpd.conf'), sConf);
    const sHash = crypto.createHash('sha1').update(PASSWORD).digest('base64');
    fs.writeFileSync(path.join(sRoot, 'users'), `${USER}:{SHA}${sHash}\n`, { mode: 0o644 });
}

// Free ports, all different: each stays bound until all are known, or the kernel may hand out one again.
async function freePorts(nCount) {
    const servers = [];
    try {
        for (let i = 0; i < nCount; i++) {
            const server = net.createServer();
            servers.push(server);
            await new Promise((resolve, reject) => {
                server.on('error', reject);
                server.listen(0, '127.0.0.1', resolve);
            });
        }
        return servers.map((server) => server.address().port);
    } finally {
        await Promise.all(servers.map((server) => new Promise((resolve) => server.close(() => resolve()))));
    }
}

function sleepSync(nMs) {
    Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, nMs);
}

// A process that ended but nobody reaped (the server's parent is gone) counts as gone.
function alive(nPid) {
    try {
        const sStat = fs.readFileSync(`/proc/${nPid}/stat`, 'utf8');
        return sStat.slice(sStat.lastIndexOf(')') + 2)[0] !== 'Z';
    } catch {
        return false;
    }
}

function childrenOf(nPid) {
    const out = [];
    for (const sPid of fs.readdirSync('/proc').filter((s) => /^\d+$/.test(s))) {
        try {
            const sStat = fs.readFileSync(`/proc/${sPid}/stat`, 'utf8');
            if (Number(sStat.slice(sStat.lastIndexOf(')') + 2).split(' ')[1]) === nPid)
                out.push(Number(sPid));
        } catch {
            // The process ended while the list was read.
        }
    }
    return out;
}

function waitGone(nPid, nMs) {
    const nEnd = Date.now() + nMs;
    while (alive(nPid) && Date.now() < nEnd)
        sleepSync(50);
    return !alive(nPid);
}

// A test process killed outright (a CTest timeout) runs no handler: a watcher outside its process tree stops the
// server in sRoot (when bApache) and removes the folder once the process is gone; it ends when the folder went.
function watchOver(sRoot, bApache) {
    const sStop = bApache ? '"$1" -d "$2" -f "$2/httpd.conf" -k stop; sleep 5; ' : '';
    const sScript = `(while kill -0 "$0" 2>/dev/null && [ -d "$2" ]; do sleep 1; done; ` +
        `[ -d "$2" ] && { ${sStop}rm -rf "$2"; }) </dev/null >/dev/null 2>&1 &`;
    spawnSync('/bin/sh', ['-c', sScript, String(process.pid), APACHE, sRoot], { stdio: 'ignore' });
}

function answers(sUrl) {
    return new Promise((resolve) => {
        const req = http.get(sUrl, (res) => {
            res.resume();
            resolve(true);
        });
        req.on('error', () => resolve(false));
        req.setTimeout(1000, () => req.destroy());
    });
}

class CApacheHost {
    constructor(sSource, settings, sOutside) {
        this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'wk-apache-'));
        this.conf = path.join(this.root, 'httpd.conf');
        this.accessLog = path.join(this.root, 'access.log');
        this.install = path.join(this.root, 'install');
        try {
            // Apache's children (nobody, when run as root) read the root and the site.
            fs.chmodSync(this.root, 0o755);
            copyInstallation(sSource, this.install);
            // The worker's log stays in the server root, whatever the settings say.
            setSettings(this.install, { 39: this.root, ...settings });
            makeSite(this.install, path.join(this.root, 'site'), sOutside);
        } catch (e) {
            fs.rmSync(this.root, { recursive: true, force: true });
            throw e;
        }
        this.mark();
    }

    // Another test may take a port between choosing and binding it: the server then starts on new ports.
    async start() {
        for (let nTry = 1; ; nTry++) {
            const ports = await freePorts(2);
            writeConfig(this.install, this.root, ports);
            const sError = await this.run('start');
            if (!sError && await this.ready(ports[0])) {
                watchOver(this.root, true);
                return this;
            }
            const sLog = this.tail('error.log');
            this.stop(false);
            if (nTry === 3 || !/Address already in use|could not bind/i.test(sError + sLog))
                throw new Error(`Apache did not start: ${sError}\n${sLog}`);
        }
    }

    run(sCommand) {
        return new Promise((resolve) => execFile(APACHE, ['-d', this.root, '-f', this.conf, '-k', sCommand],
            { timeout: 15000 }, (err, _stdout, stderr) => resolve(err ? `${err.message}\n${stderr}` : '')));
    }

    async ready(nPort) {
        const nEnd = Date.now() + 10000;
        while (Date.now() < nEnd) {
            if (alive(this.pid()) && await answers(`http://127.0.0.1:${nPort}/`)) {
                this.baseUrl = `http://127.0.0.1:${nPort}/owa/`;
                return true;
            }
            await new Promise((r) => setTimeout(r, 100));
        }
        return false;
    }

    pid() {
        try {
            return Number(fs.readFileSync(path.join(this.root, 'httpd.pid'), 'utf8')) || 0;
        } catch {
            return 0;
        }
    }

    tail(sName) {
        try {
            return fs.readFileSync(path.join(this.root, sName), 'utf8').slice(-4000);
        } catch {
            return '';
        }
    }

    // Synchronous, so that it also runs when the process exits.
    stop(bRemove = true) {
        const nPid = this.pid();
        if (nPid) {
            try {
                execFileSync(APACHE, ['-d', this.root, '-f', this.conf, '-k', 'stop'],
                    { stdio: 'ignore', timeout: 10000 });
            } catch {
                // Killed below when it does not go.
            }
            if (!waitGone(nPid, 10000)) {
                for (const nChild of [...childrenOf(nPid), nPid]) {
                    try {
                        process.kill(nChild, 'SIGKILL');
                    } catch {
                        // Already gone.
                    }
                }
                waitGone(nPid, 2000);
            }
            fs.rmSync(path.join(this.root, 'httpd.pid'), { force: true });
        }
        if (bRemove)
            fs.rmSync(this.root, { recursive: true, force: true });
    }

    // Requests from here on are what `requests` reads from Apache's access log.
    mark() {
        this.logOffset = fs.existsSync(this.accessLog) ? fs.statSync(this.accessLog).size : 0;
    }

    // The requests Apache logged since the mark whose path starts with sPrefix: { path, status }.
    requests(sPrefix) {
        if (!fs.existsSync(this.accessLog))
            return [];
        const sText = fs.readFileSync(this.accessLog).subarray(this.logOffset).toString('utf8');
        const out = [];
        for (const m of sText.matchAll(/^\S+ "\S+ (\S+) [^"]*" (\d+) /gm)) {
            if (m[1].toLowerCase().startsWith(sPrefix.toLowerCase()))
                out.push({ path: m[1], status: Number(m[2]) });
        }
        return out;
    }
}

// The servers of one test run, one per set of settings, started when first needed.
class CApacheHosts {
    constructor(sOutside) {
        this.outside = sOutside;
        this.hosts = new Map();
        this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'wk-browser-'));
        try {
            this.source = installation(this.root);
        } catch (e) {
            fs.rmSync(this.root, { recursive: true, force: true });
            throw e;
        }
        this.wkctl = path.join(this.source, 'Wendrake/bin/wkctl');
        watchOver(this.root, false);
        // A test run that is interrupted still stops its servers.
        this.stopOnExit = () => this.stop();
        this.stopOnSignal = () => process.exit(1);
        process.on('exit', this.stopOnExit);
        for (const sSignal of ['SIGINT', 'SIGTERM'])
            process.on(sSignal, this.stopOnSignal);
    }

    async get(settings = {}) {
        const sKey = JSON.stringify(Object.entries(settings).sort());
        if (!this.hosts.has(sKey)) {
            const host = new CApacheHost(this.source, settings, this.outside);
            try {
                await host.start();
            } catch (e) {
                host.stop();
                throw e;
            }
            this.hosts.set(sKey, host);
        }
        return this.hosts.get(sKey);
    }

    stop() {
        for (const host of this.hosts.values())
            host.stop();
        this.hosts.clear();
        fs.rmSync(this.root, { recursive: true, force: true });
        process.off('exit', this.stopOnExit);
        for (const sSignal of ['SIGINT', 'SIGTERM'])
            process.off(sSignal, this.stopOnSignal);
    }
}

module.exports = { CApacheHosts, available, credentials: { username: USER, password: PASSWORD } };
