'use strict';
// The guard in a real browser: the base page, the guarded webmail pages with their warning dialog, the
// leave prompt, automatic logoff and the blocked-browser page, served by Apache with mod_wendrake and the worker
// in front of the demo webmail site.
const { describe, it, before, after, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const apacheLib = require('./lib/apache');
const browserLib = require('./lib/browser');
const { COutsideSite } = require('./lib/outside');

const SKIP = browserLib.available() || apacheLib.available();
const SHOTS = process.env.WK_SCREENSHOT_DIR || path.join(__dirname, 'screenshots');
const BLOCKED_AGENT = 'Mozilla/4.0 (compatible; MSIE 4.0; Windows 98)';
const ALERT_ON_UNLOAD = { 125: '1' };
const AUTO_LOGOFF = { 111: '1' };
const LOGOFF_PATH = '/owa/auth/logoff.aspx';
// The no-redirect mode for the browsers of list 119 (here the headless browser): the page warns once instead.
const NO_REDIRECT_FOR_HEADLESS = { 115: '1', 119: '*HeadlessChrome*' };

let outside;
let hosts;
// The Apache of the current test (one per set of settings) and its webmail address.
let host;
let browser;
let page;

// The dialog texts a user of this language gets, as the module's resources give them.
function textsFor(sLanguage) {
    const out = execFileSync(hosts.wkctl, ['texts', '--install', hosts.source,
        '--accept-language', sLanguage], { encoding: 'utf8' });
    const texts = {};
    for (const m of out.matchAll(/^(\d+): (.*)$/gm))
        texts[m[1]] = m[2];
    return texts;
}

// The server for these settings; its access log is read from here on.
async function useHost(settings = {}) {
    host = await hosts.get(settings);
    host.mark();
    return host;
}

// Apache authenticates the webmail: the demo's user.
async function newPage(context) {
    const p = await context.newPage();
    await p.authenticate(apacheLib.credentials);
    return p;
}

async function openWebmail(options = {}) {
    if (options.language)
        await page.setExtraHTTPHeaders({ 'Accept-Language': options.language });
    await page.setCookie({ name: 'UserContext', value: 'a1b2c3', url: host.baseUrl, path: '/' });
    await page.goto(host.baseUrl + (options.query || ''), { waitUntil: 'load' });
    const frame = options.query ? page.mainFrame()
        : await page.waitForFrame((f) => f.url().includes('bkwksubfr=2'), { timeout: 10000 });
    await frame.waitForFunction(() => document.readyState === 'complete' && !!document.getElementById('idbkWK'));
    return frame;
}

function dialogState(frame) {
    return frame.evaluate(() => {
        const d = document.getElementById('idbkWK');
        const r = d.getBoundingClientRect();
        return {
            visible: getComputedStyle(d).visibility === 'visible',
            text: d.innerText.replace(/\s+/g, ' '),
            centre: [r.left + r.width / 2, r.top + r.height / 2],
            viewport: [innerWidth / 2, innerHeight / 2],
            returnKey: document.getElementById('idbkReturn').getAttribute('accesskey'),
            focused: document.activeElement && document.activeElement.id
        };
    });
}

async function userContext() {
    const cookies = await page.cookies(host.baseUrl);
    return cookies.find((c) => c.name === 'UserContext');
}

// The logoff requests Apache logged for the current test, by status.
function logoffRequests() {
    return host.requests(LOGOFF_PATH).map((r) => r.status);
}

// Apache logs a request once it answered it: the browser may have moved on by then.
async function loggedOff() {
    await waitFor(() => logoffRequests().length > 0);
    await new Promise((r) => setTimeout(r, 200));
    return logoffRequests();
}

describe('the guard in the browser', { skip: SKIP || false }, () => {
    before(async () => {
        outside = await new COutsideSite().start();
        hosts = new apacheLib.CApacheHosts(outside.url);
        browser = await browserLib.launch();
        fs.mkdirSync(SHOTS, { recursive: true });
    });

    after(async () => {
        try {
            if (browser)
                await browser.close();
        } finally {
            if (hosts)
                hosts.stop();
            if (outside)
                await outside.stop();
        }
    });

    beforeEach(async () => {
        outside.hits.length = 0;
        await useHost();
        page = await newPage(await browser.createBrowserContext());
    });

    afterEach(async () => {
        // Cleanup only: a browser busy with a navigation may not answer; `after` closes it anyway.
        const context = page.browserContext();
        await settle(page.close().catch(() => {}), 10000);
        await settle(context.close().catch(() => {}), 10000);
    });

    const languages = [
        { name: 'French', acceptLanguage: 'fr-FR,fr;q=0.9,en;q=0.5', resource: 'fr' },
        { name: 'German', acceptLanguage: 'de-DE,de;q=0.8', resource: 'de' }
    ];
    for (const lang of languages) {
        it(`shows the hidden dialog, centred, in ${lang.name} for a link outside webmail`, async () => {
            const texts = textsFor(lang.resource);
            const frame = await openWebmail({ language: lang.acceptLanguage });
            assert.equal((await dialogState(frame)).visible, false, 'the dialog is hidden on load');
            await frame.click('#outside');
            const state = await dialogState(frame);
            assert.equal(state.visible, true);
            assert.ok(state.text.includes(texts['102']), `title "${texts['102']}" in "${state.text}"`);
            assert.ok(state.text.includes(texts['103']));
            assert.ok(Math.abs(state.centre[0] - state.viewport[0]) <= 2, `centred across: ${state.centre}`);
            assert.ok(Math.abs(state.centre[1] - state.viewport[1]) <= 2, `centred down: ${state.centre}`);
            assert.equal(state.focused, 'idbkReturn');
            assert.equal(outside.hits.length, 0, 'the browser did not leave');
        });
    }

    it('loads the guard\'s and the webmail\'s scripts from Apache under the cached-script prefix', async () => {
        await openWebmail({ language: 'de' });
        const served = host.requests('/owa/').filter((r) => r.status === 200).map((r) => r.path);
        for (const re of [/^\/owa\/BKScripts\/Wendrake\/1\.2\/+bkcsbk_WKUtil\.js$/,
            /^\/owa\/BKScripts\/Wendrake\/1\.2\/+bkcsbk_WKSubFrUtil\.js$/,
            /^\/owa\/BKScripts\/Wendrake\/1\.2\/+bkcsbk_WKWarn\.js$/,
            /^\/owa\/8\.1\.240\.5\/scripts\/premium\/+bkcsm\/v1uglobal\.js$/])
            assert.ok(served.some((sPath) => re.test(sPath)), `${re} in ${served.join(' ')}`);
    });

    const returns = [
        { name: 'the Return button', act: (frame) => frame.click('#idbkReturn') },
        { name: 'Escape', act: () => page.keyboard.press('Escape') },
        { name: "the Return button's access key", act: async (frame) => page.keyboard.press(
            (await dialogState(frame)).returnKey.toLowerCase()) }
    ];
    for (const way of returns) {
        it(`keeps the user in webmail after ${way.name}`, async () => {
            const frame = await openWebmail({ language: 'de' });
            const sBefore = frame.url();
            await frame.click('#outside');
            assert.equal((await dialogState(frame)).visible, true);
            await way.act(frame);
            assert.equal((await dialogState(frame)).visible, false);
            await new Promise((r) => setTimeout(r, 300));
            assert.equal(frame.url(), sBefore);
            assert.equal(page.url(), host.baseUrl);
            assert.equal(outside.hits.length, 0);
            assert.deepEqual(logoffRequests(), [], 'no logoff');
            assert.ok(await userContext(), 'still logged on');
        });
    }

    const logoffs = [
        { name: 'the Log off button', act: (frame) => frame.click('#idbkLogOff') },
        { name: 'its access key with Alt', act: async (frame) => {
            const sKey = await frame.$eval('#idbkLogOff', (b) => b.getAttribute('accesskey').toLowerCase());
            await page.keyboard.down('Alt');
            await page.keyboard.press(sKey);
            await page.keyboard.up('Alt');
        } }
    ];
    for (const way of logoffs) {
        it(`logs off with ${way.name} through the webmail logoff address, then goes on outside`, async () => {
            const frame = await openWebmail({ language: 'fr' });
            assert.ok(await userContext());
            await frame.click('#outside');
            await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), way.act(frame)]);
            assert.equal(page.url(), `${outside.url}/landing.html?from=link`, 'the whole window left');
            assert.deepEqual(await loggedOff(), [200]);
            assert.equal(await userContext(), undefined, "the worker's logoff answer expired UserContext");
        });
    }

    const otherLeaves = [
        { name: 'a form', selector: '#outside-submit', from: 'q=form' },
        { name: 'window.open', selector: '#open-outside', from: 'from=open' },
        { name: 'a link into a new window', selector: '#outside-blank', from: 'from=blank' }
    ];
    for (const leave of otherLeaves) {
        it(`holds ${leave.name} leading outside until the user logs off`, async () => {
            const frame = await openWebmail({ language: 'de' });
            await frame.click(leave.selector);
            assert.equal((await dialogState(frame)).visible, true);
            assert.equal(outside.hits.length, 0);
            const landed = page.browserContext().waitForTarget((t) => t.url().includes(leave.from),
                { timeout: 15000 });
            await frame.click('#idbkLogOff');
            await landed;
            assert.ok(outside.hits.some((sUrl) => sUrl.includes(leave.from)));
            assert.deepEqual(await loggedOff(), [200]);
            assert.equal(await userContext(), undefined);
        });
    }

    it('never shows the dialog for links that stay in webmail', async () => {
        const frame = await openWebmail({ language: 'de' });
        for (const sSelector of ['#script-link', '#mail-link']) {
            await frame.click(sSelector);
            assert.equal((await dialogState(frame)).visible, false, sSelector);
        }
        await Promise.all([frame.waitForNavigation(), frame.click('#inside')]);
        assert.match(frame.url(), /\/owa\/inside\.html$/);
        assert.equal(page.url(), host.baseUrl, 'the base page stays around webmail');
        await waitFor(async () => (await page.title()) === 'Inside', 5000);
        assert.equal(outside.hits.length, 0);
    });

    it('asks the browser to prompt on closing when the alert is on', async () => {
        await useHost(ALERT_ON_UNLOAD);
        const frame = await openWebmail({ language: 'de' });
        await frame.click('body');
        const prompt = new Promise((resolve) => page.once('dialog', (d) => {
            resolve(d.type());
            d.accept();
        }));
        await page.close({ runBeforeUnload: true });
        assert.equal(await withTimeout(prompt, 5000), 'beforeunload');
    });

    it('does not prompt on closing when the alert is off', async () => {
        const frame = await openWebmail({ language: 'de' });
        await frame.click('body');
        let sType = null;
        page.once('dialog', (d) => {
            sType = d.type();
            d.accept();
        });
        const closed = new Promise((r) => page.once('close', r));
        await page.close({ runBeforeUnload: true });
        await withTimeout(closed, 5000);
        assert.equal(sType, null);
    });

    it('does not prompt after the user logged off', async () => {
        await useHost(ALERT_ON_UNLOAD);
        const frame = await openWebmail({ language: 'de' });
        let sType = null;
        page.on('dialog', (d) => {
            sType = d.type();
            d.dismiss();
        });
        await frame.click('#outside');
        await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), frame.click('#idbkLogOff')]);
        assert.equal(sType, null);
        assert.equal(page.url(), `${outside.url}/landing.html?from=link`);
    });

    const autoLogoffs = [{ on: true }, { on: false }];
    for (const c of autoLogoffs) {
        it(`logs off on typing another address only with automatic logoff ${c.on ? 'on' : 'off'}`, async () => {
            await useHost(c.on ? AUTO_LOGOFF : {});
            const frame = await openWebmail({ language: 'de' });
            await frame.click('body');
            await page.goto(`${outside.url}/typed.html`, { waitUntil: 'load' });
            if (c.on)
                assert.deepEqual(await loggedOff(), [200]);
            else {
                await new Promise((r) => setTimeout(r, 700));
                assert.deepEqual(logoffRequests(), []);
            }
        });
    }

    it('logs off automatically only when the last webmail tab goes away', async () => {
        await useHost(AUTO_LOGOFF);
        const first = await openWebmail({ language: 'de' });
        await first.click('body');
        const firstPage = page;
        page = await newPage(firstPage.browserContext());
        const second = await openWebmail({ language: 'de' });
        await second.click('body');
        await firstPage.goto(`${outside.url}/first.html`, { waitUntil: 'load' });
        await new Promise((r) => setTimeout(r, 500));
        assert.deepEqual(logoffRequests(), [], 'another tab still shows webmail');
        await page.goto(`${outside.url}/second.html`, { waitUntil: 'load' });
        assert.deepEqual(await loggedOff(), [200]);
    });

    const notices = [{ settings: NO_REDIRECT_FOR_HEADLESS, shown: true }, { settings: {}, shown: false }];
    for (const c of notices) {
        it(`${c.shown ? 'shows' : 'does not show'} the no-warning notice ${c.shown ? 'in' : 'outside'} the no-redirect mode`,
            async () => {
                await useHost(c.settings);
                await openWebmail({ language: 'fr' });
                const sNotice = await page.evaluate(() => {
                    const el = document.querySelector('[role=status]');
                    return el ? el.textContent : null;
                });
                if (c.shown)
                    assert.ok(sNotice && sNotice.includes(textsFor('fr')['116']), String(sNotice));
                else
                    assert.equal(sNotice, null);
            });
    }

    async function openAsBlocked() {
        await page.setUserAgent(BLOCKED_AGENT);
        await page.setCookie({ name: 'UserContext', value: 'a1b2c3', url: host.baseUrl, path: '/' });
        const first = new Promise((resolve) => page.once('request', resolve));
        const navigation = await page.goto(host.baseUrl, { waitUntil: 'load' }).catch((e) => e);
        return { request: await first, navigation };
    }

    it('redirects a blocked browser to the blocked-browser page and expires its session', async () => {
        const { request } = await openAsBlocked();
        const redirect = request.response();
        assert.equal(redirect.status(), 302);
        assert.match(redirect.headers().location,
            new RegExp(`^${host.baseUrl}BKScripts/Wendrake/1\\.2/+[^/]*bk_WKDlgNoBrowser\\.htm$`));
        assert.deepEqual(host.requests('/owa/').filter((r) => r.status !== 401)[0], { path: '/owa/', status: 302 });
        assert.equal(await userContext(), undefined);
    });

    // The host serves the guard's own files without the worker, which would screen the page's own request
    // and redirect the blocked browser to it again.
    it('shows a blocked browser the blocked-browser page, served by Apache', async () => {
        const { navigation } = await openAsBlocked();
        assert.ok(!(navigation instanceof Error), String(navigation));
        assert.equal(navigation.status(), 200);
        assert.match(page.url(), /\/BKScripts\/Wendrake\/1\.2\/+[^/]*bk_WKDlgNoBrowser\.htm$/);
        assert.match(await page.$eval('h1', (h) => h.textContent), /browser/i);
        assert.equal(await page.$$eval('script', (s) => s.length), 0, 'the page needs no script');
    });

    const shots = [
        { name: 'premium', query: undefined },
        { name: 'basic', query: 'basic.html?bkwksubfr=2' }
    ];
    for (const shot of shots) {
        it(`writes a screenshot of the ${shot.name} dialog`, async () => {
            const frame = await openWebmail({ language: 'en-US', query: shot.query });
            await frame.click('#outside');
            assert.equal((await dialogState(frame)).visible, true);
            const sFile = path.join(SHOTS, `dialog-${shot.name}.png`);
            await page.screenshot({ path: sFile });
            assert.ok(fs.statSync(sFile).size > 1000);
        });
    }
});

async function waitFor(fn, nTimeout = 10000) {
    const nEnd = Date.now() + nTimeout;
    while (!(await fn())) {
        if (Date.now() > nEnd)
            throw new Error(`timed out waiting for ${fn}`);
        await new Promise((r) => setTimeout(r, 50));
    }
}

function settle(promise, nMs) {
    return Promise.race([promise, new Promise((r) => setTimeout(r, nMs))]);
}

function withTimeout(promise, nMs) {
    return Promise.race([promise, new Promise((_, reject) => setTimeout(() => reject(new Error('timeout')), nMs))]);
}
