'use strict';
// The guard in a real browser: the base page, the guarded webmail pages with their warning dialog, the
// leave prompt, automatic logoff and the blocked-browser page, served through the module itself.
const { describe, it, before, after, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { CWebmail } = require('./lib/webmail');
const browserLib = require('./lib/browser');

const SKIP = browserLib.available();
const SHOTS = process.env.WK_SCREENSHOT_DIR || path.join(__dirname, 'screenshots');
const BLOCKED_AGENT = 'Mozilla/4.0 (compatible; MSIE 4.0; Windows 98)';
const ALERT_ON_UNLOAD = { 125: '1' };
// The no-redirect mode for the browsers of list 119 (here the headless browser): the page warns once instead.
const NO_REDIRECT_FOR_HEADLESS = { 115: '1', 119: '*HeadlessChrome*' };

let webmail;
let browser;
let page;

// The dialog texts a user of this language gets, as the module's resources give them.
function textsFor(sLanguage) {
    const out = execFileSync(webmail.wkctl, ['texts', '--install', webmail.plain,
        '--accept-language', sLanguage], { encoding: 'utf8' });
    const texts = {};
    for (const m of out.matchAll(/^(\d+): (.*)$/gm))
        texts[m[1]] = m[2];
    return texts;
}

async function openWebmail(options = {}) {
    if (options.language)
        await page.setExtraHTTPHeaders({ 'Accept-Language': options.language });
    await page.setCookie({ name: 'UserContext', value: 'a1b2c3', url: webmail.baseUrl, path: '/' });
    await page.goto(webmail.baseUrl + (options.query || ''), { waitUntil: 'load' });
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
    const cookies = await page.cookies(webmail.baseUrl);
    return cookies.find((c) => c.name === 'UserContext');
}

function outsideHits() {
    return webmail.hits.filter((h) => h.site === 'outside');
}

describe('the guard in the browser', { skip: SKIP || false }, () => {
    before(async () => {
        webmail = await new CWebmail().start();
        browser = await browserLib.launch();
        fs.mkdirSync(SHOTS, { recursive: true });
    });

    after(async () => {
        if (browser)
            await browser.close();
        if (webmail)
            await webmail.stop();
    });

    beforeEach(async () => {
        webmail.hits.length = 0;
        webmail.mode = { settings: {}, autoLogoff: false };
        const context = await browser.createBrowserContext();
        page = await context.newPage();
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
            assert.equal(outsideHits().length, 0, 'the browser did not leave');
        });
    }

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
            assert.equal(page.url(), webmail.baseUrl);
            assert.equal(outsideHits().length, 0);
            assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, 0, 'no logoff');
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
            assert.equal(page.url(), `${webmail.outsideUrl}/landing.html?from=link`, 'the whole window left');
            assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, 1);
            assert.equal(await userContext(), undefined, "the module's logoff answer expired UserContext");
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
            assert.equal(outsideHits().length, 0);
            const landed = page.browserContext().waitForTarget((t) => t.url().includes(leave.from),
                { timeout: 15000 });
            await frame.click('#idbkLogOff');
            await landed;
            assert.ok(outsideHits().some((h) => h.path.includes(leave.from)));
            assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, 1);
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
        assert.equal(page.url(), webmail.baseUrl, 'the base page stays around webmail');
        await waitFor(async () => (await page.title()) === 'Inside', 5000);
        assert.equal(outsideHits().length, 0);
    });

    it('asks the browser to prompt on closing when the alert is on', async () => {
        webmail.mode.settings = ALERT_ON_UNLOAD;
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
        webmail.mode.settings = ALERT_ON_UNLOAD;
        const frame = await openWebmail({ language: 'de' });
        let sType = null;
        page.on('dialog', (d) => {
            sType = d.type();
            d.dismiss();
        });
        await frame.click('#outside');
        await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), frame.click('#idbkLogOff')]);
        assert.equal(sType, null);
        assert.equal(page.url(), `${webmail.outsideUrl}/landing.html?from=link`);
    });

    const autoLogoffs = [{ on: true, expected: 1 }, { on: false, expected: 0 }];
    for (const c of autoLogoffs) {
        it(`logs off on typing another address only with automatic logoff ${c.on ? 'on' : 'off'}`, async () => {
            webmail.mode.autoLogoff = c.on;
            const frame = await openWebmail({ language: 'de' });
            await frame.click('body');
            await page.goto(`${webmail.outsideUrl}/typed.html`, { waitUntil: 'load' });
            if (c.expected)
                await waitFor(() => webmail.hitsOf('/owa/auth/logoff.aspx').length > 0);
            else
                await new Promise((r) => setTimeout(r, 500));
            assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, c.expected);
        });
    }

    it('logs off automatically only when the last webmail tab goes away', async () => {
        webmail.mode.autoLogoff = true;
        const first = await openWebmail({ language: 'de' });
        await first.click('body');
        const firstPage = page;
        page = await firstPage.browserContext().newPage();
        const second = await openWebmail({ language: 'de' });
        await second.click('body');
        await firstPage.goto(`${webmail.outsideUrl}/first.html`, { waitUntil: 'load' });
        await new Promise((r) => setTimeout(r, 500));
        assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, 0, 'another tab still shows webmail');
        await page.goto(`${webmail.outsideUrl}/second.html`, { waitUntil: 'load' });
        await waitFor(() => webmail.hitsOf('/owa/auth/logoff.aspx').length > 0);
        assert.equal(webmail.hitsOf('/owa/auth/logoff.aspx').length, 1);
    });

    const notices = [{ settings: NO_REDIRECT_FOR_HEADLESS, shown: true }, { settings: {}, shown: false }];
    for (const c of notices) {
        it(`${c.shown ? 'shows' : 'does not show'} the no-warning notice ${c.shown ? 'in' : 'outside'} the no-redirect mode`,
            async () => {
                webmail.mode.settings = c.settings;
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

    it('sends a blocked browser to the blocked-browser page', async () => {
        await page.setUserAgent(BLOCKED_AGENT);
        await page.setCookie({ name: 'UserContext', value: 'a1b2c3', url: webmail.baseUrl, path: '/' });
        const response = await page.goto(webmail.baseUrl, { waitUntil: 'load' });
        assert.match(page.url(), /\/BKScripts\/Wendrake\/1\.2\/+[^/]*bk_WKDlgNoBrowser\.htm$/);
        assert.equal(response.status(), 200);
        assert.match(await page.$eval('h1', (h) => h.textContent), /browser/i);
        assert.equal(await page.$$eval('script', (s) => s.length), 0, 'the page needs no script');
        assert.equal(await userContext(), undefined);
    });

    const shots = [
        { name: 'premium', query: undefined },
        { name: 'basic', query: '?bkwksubfr=2&view=basic' }
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
