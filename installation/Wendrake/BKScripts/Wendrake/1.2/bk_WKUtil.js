/* Wendrake guard: the base page that holds webmail in a frame for the whole session.
 *
 * The module writes the page: this file, a block of settings (g_BKWK_sOWA, g_BKWK_isAutoLogoff,
 * g_BKWK_isAlertOnUnloadEnabled, g_BKWK_iPPBFlag, g_BKWK_sPPBWarn, ...) that ends with f_BKWK_Init(), and a
 * body whose handlers call f_BKWK_OnLoad, f_BKWK_Warning, f_BKWK_KeepFocus and f_BKWK_CancelKeepFocus. Those
 * five names are the only globals this file adds. The webmail pages in the frame share the session's state
 * through sessionStorage (one per tab, shared by the tab's frames of the same origin), under "BKWK.".
 */
(function () {
    'use strict';

    var STATE_KEY = 'BKWK.state';
    var PASS_KEY = 'BKWK.passUntil';
    var PAGES_KEY = 'BKWK.pages';
    var LOGOFF_PATH = 'auth/logoff.aspx?Cmd=logoff';
    // A tab that has not said it is alive for this long is taken for closed (background tabs run their
    // timers about once a minute).
    var PAGE_STALE_MS = 150000;
    var HEARTBEAT_MS = 30000;

    var sPageId = String(Date.now()) + '.' + String(Math.random()).slice(2);
    var bFinished = false;

    function setting(sName, vDefault) {
        var v = window[sName];
        return v === undefined || v === null ? vDefault : v;
    }

    function flag(sName) {
        var v = setting(sName, 0);
        return v === true || v === 1 || v === '1';
    }

    function storage(sKind) {
        try {
            return window[sKind];
        } catch (e) {
            // Storage can be switched off; the guard then works without the cross-page state.
            return null;
        }
    }

    function readItem(sKind, sKey) {
        var s = storage(sKind);
        try {
            return s ? s.getItem(sKey) : null;
        } catch (e) {
            return null;
        }
    }

    function writeItem(sKind, sKey, sValue) {
        var s = storage(sKind);
        try {
            if (s && sValue === null)
                s.removeItem(sKey);
            else if (s)
                s.setItem(sKey, sValue);
        } catch (e) {
            // A full or locked storage only costs the shared state.
        }
    }

    function webmailBase() {
        var sBase = String(setting('g_BKWK_sOWA', ''));
        if (!sBase) {
            var p = location.pathname;
            sBase = location.origin + p.slice(0, p.lastIndexOf('/') + 1);
        }
        return sBase.charAt(sBase.length - 1) === '/' ? sBase : sBase + '/';
    }

    function isLoggedOff() {
        return readItem('sessionStorage', STATE_KEY) === 'loggedoff';
    }

    // A page of webmail said the next navigation of this window is its own (its logoff link, a link
    // to another webmail page at the top).
    function isPassed() {
        var n = Number(readItem('sessionStorage', PASS_KEY) || 0);
        return n > Date.now();
    }

    function livePages() {
        var o = {};
        try {
            o = JSON.parse(readItem('localStorage', PAGES_KEY) || '{}') || {};
        } catch (e) {
            o = {};
        }
        var now = Date.now();
        Object.keys(o).forEach(function (k) {
            if (typeof o[k] !== 'number' || now - o[k] > PAGE_STALE_MS)
                delete o[k];
        });
        return o;
    }

    function markAlive(bAlive) {
        var o = livePages();
        if (bAlive)
            o[sPageId] = Date.now();
        else
            delete o[sPageId];
        writeItem('localStorage', PAGES_KEY, JSON.stringify(o));
        return Object.keys(o).length;
    }

    function onBeforeUnload(e) {
        if (!flag('g_BKWK_isAlertOnUnloadEnabled') || isLoggedOff() || isPassed())
            return undefined;
        // Browsers show their own text; the event only asks for the prompt.
        e.preventDefault();
        e.returnValue = '';
        return '';
    }

    // The last webmail tab going away logs off, where the browser still sends a request at this point.
    function finish() {
        if (bFinished)
            return;
        bFinished = true;
        var nOthers = markAlive(false);
        if (!flag('g_BKWK_isAutoLogoff') || isLoggedOff() || isPassed() || nOthers > 0)
            return;
        var sLogoff = webmailBase() + LOGOFF_PATH;
        var bSent = false;
        try {
            bSent = !!(navigator.sendBeacon && navigator.sendBeacon(sLogoff));
        } catch (e) {
            bSent = false;
        }
        if (!bSent && window.fetch)
            fetch(sLogoff, { method: 'GET', credentials: 'include', keepalive: true }).catch(function () {});
        writeItem('sessionStorage', STATE_KEY, 'loggedoff');
    }

    function onPageHide(e) {
        // A page kept in the back-forward cache may come back: it is not gone yet.
        if (e && e.persisted) {
            markAlive(false);
            return;
        }
        finish();
    }

    function onPageShow(e) {
        if (e && e.persisted) {
            bFinished = false;
            markAlive(true);
        }
    }

    function showNoWarningNotice() {
        var sText = String(setting('g_BKWK_sPPBWarn', ''));
        if (Number(setting('g_BKWK_iPPBFlag', 0)) !== 1 || !sText || !document.body)
            return;
        var bar = document.createElement('div');
        bar.setAttribute('role', 'status');
        bar.style.cssText = 'position:fixed;top:0;left:0;right:0;z-index:2147483000;padding:6px 32px 6px 10px;' +
            'background:#fff4ce;border-bottom:1px solid #c8a800;font:13px sans-serif;color:#000;';
        bar.textContent = sText;
        var close = document.createElement('button');
        close.type = 'button';
        close.textContent = '\u00d7';
        close.setAttribute('aria-label', 'OK');
        close.style.cssText = 'position:absolute;right:6px;top:3px;border:0;background:none;font-size:16px;';
        close.addEventListener('click', function () {
            bar.remove();
        });
        bar.appendChild(close);
        document.body.appendChild(bar);
    }

    function embedWebmail() {
        var holder = document.getElementById('embDiv') || document.body;
        if (!holder || holder.querySelector('iframe'))
            return;
        var frame = document.createElement('iframe');
        frame.name = 'bkwkMain';
        frame.title = document.title || 'Outlook Web Access';
        frame.style.cssText = 'position:fixed;top:0;left:0;width:100%;height:100%;border:0;margin:0;padding:0;';
        frame.src = webmailBase() + '?bkwksubfr=2';
        // The tab shows the title of the webmail page in the frame.
        frame.addEventListener('load', function () {
            try {
                if (frame.contentDocument && frame.contentDocument.title)
                    document.title = frame.contentDocument.title;
            } catch (e) {
                // A page of another origin keeps its title to itself.
            }
        });
        holder.appendChild(frame);
    }

    window.f_BKWK_Init = function () {
        // A new base page is a new session: a logoff of an earlier one in this tab no longer counts.
        writeItem('sessionStorage', STATE_KEY, null);
        writeItem('sessionStorage', PASS_KEY, null);
        markAlive(true);
        setInterval(function () {
            if (!bFinished)
                markAlive(true);
        }, HEARTBEAT_MS);
        window.addEventListener('beforeunload', onBeforeUnload);
        window.addEventListener('pagehide', onPageHide);
        window.addEventListener('pageshow', onPageShow);
    };

    window.f_BKWK_OnLoad = function () {
        embedWebmail();
        showNoWarningNotice();
    };

    // The page's unload handler: where pagehide is not fired, the same end of the session.
    window.f_BKWK_Warning = function () {
        finish();
    };

    // Browsers no longer let a page take the focus back from another window; the frame gets it instead
    // when the base page has it, so that keys reach webmail.
    window.f_BKWK_KeepFocus = function () {};

    window.f_BKWK_CancelKeepFocus = function () {
        var frame = document.querySelector('#embDiv iframe');
        if (frame && document.activeElement !== frame) {
            try {
                frame.contentWindow.focus();
            } catch (e) {
                // Nothing to focus yet.
            }
        }
    };
})();
