'use strict';
// The system's Chromium, headless, driven by puppeteer-core (which never downloads a browser).
const puppeteer = require('puppeteer-core');
const fs = require('node:fs');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

function available() {
    return fs.existsSync(CHROMIUM) ? null : `no browser at ${CHROMIUM} (set CHROMIUM)`;
}

async function launch() {
    const args = ['--no-first-run', '--no-default-browser-check', '--disable-gpu', '--window-size=1100,760',
        '--disable-features=Translate,MediaRouter'];
    // Chromium refuses its sandbox to root.
    if (process.getuid && process.getuid() === 0)
        args.push('--no-sandbox');
    return puppeteer.launch({
        executablePath: CHROMIUM,
        headless: true,
        args,
        defaultViewport: { width: 1100, height: 760 },
        protocolTimeout: 60000
    });
}

module.exports = { launch, available };
