/* Wendrake guard: in a guarded webmail page, notices the user about to leave webmail without logging off.
 *
 * The module writes `var g_BKWK_showMsg=1; f_BKWK_Init();` into the page when the guard applies to it.
 * A link, a form or window.open that leads outside the webmail address is held and handed to the warning
 * dialog (bk_WKWarn.js) as a cancelable "bkwk-leave" event on the document; the dialog claims it with
 * preventDefault() and later calls detail.proceed() (after logging off) or nothing (the user returns).
 * When nothing claims the event, the navigation goes on as the page meant it. f_BKWK_Init is the only
 * global this file adds.
 */
(function () {
    'use strict';

    var STATE_KEY = 'BKWK.state';
    var PASS_KEY = 'BKWK.passUntil';
    var LOGOFF_PATH = 'auth/logoff.aspx?Cmd=logoff';
    var PASS_MS = 3000;
    var LEAVE_EVENT = 'bkwk-leave';

    // The address this file was loaded from tells the webmail address when no base page is around:
    // the module serves it from <webmail>/BKScripts/...
    var sScriptBase = (function () {
        var s = document.currentScript && document.currentScript.src;
        var n = s ? s.search(/\/BKScripts\//i) : -1;
        return n > 0 ? s.slice(0, n + 1) : '';
    })();

    var bStarted = false;
    var bLetThrough = false;
    // Once the user chose to leave, nothing this page starts is held again.
    var bLeaving = false;
    var fnOpen = window.open;

    function writeSession(sKey, sValue) {
        try {
            window.sessionStorage.setItem(sKey, sValue);
        } catch (e) {
            // Without storage the base page cannot be told; it then prompts as for any leave.
        }
    }

    function webmailBase() {
        var sBase = '';
        try {
            if (window.top !== window && typeof window.top.g_BKWK_sOWA === 'string')
                sBase = window.top.g_BKWK_sOWA;
        } catch (e) {
            // A top window of another origin: the script's own address is the only hint.
        }
        sBase = sBase || sScriptBase;
        if (!sBase) {
            var p = location.pathname;
            sBase = location.origin + p.slice(0, p.lastIndexOf('/') + 1);
        }
        return sBase.charAt(sBase.length - 1) === '/' ? sBase : sBase + '/';
    }

    function parse(sUrl) {
        try {
            return new URL(sUrl, document.baseURI);
        } catch (e) {
            return null;
        }
    }

    // Webmail lives under its base address (paths compared without case, as the server does).
    function isInsideWebmail(url) {
        var base = parse(webmailBase());
        if (!base)
            return true;
        return url.origin === base.origin &&
            url.pathname.toLowerCase().indexOf(base.pathname.toLowerCase()) === 0;
    }

    // Only a web address can leave webmail: script, mail and fragment links stay where they are.
    function leavesWebmail(url) {
        return !!url && (url.protocol === 'http:' || url.protocol === 'https:') && !isInsideWebmail(url);
    }

    function isLogoffAddress(url) {
        return !!url && isInsideWebmail(url) &&
            (/\/auth\/logoff\.aspx$/i.test(url.pathname) || /(^|[?&])cmd=logoff(&|$)/i.test(url.search));
    }

    // The window a link or form would load into: this one, its top, or another one.
    function targetKind(sTarget) {
        var t = (sTarget || '').toLowerCase();
        if (t === '' || t === '_self')
            return 'self';
        if (t === '_top' || t === '_parent')
            return 'top';
        return 'other';
    }

    function noteOwnNavigation(url, sKind) {
        if (isLogoffAddress(url))
            writeSession(STATE_KEY, 'loggedoff');
        else if (sKind === 'top' || window.top === window)
            writeSession(PASS_KEY, String(Date.now() + PASS_MS));
    }

    // Leaving from the frame of the base page takes the whole window along: the user leaves webmail.
    function leaveTo(sUrl, sTarget) {
        var sKind = targetKind(sTarget);
        bLeaving = true;
        writeSession(STATE_KEY, 'loggedoff');
        if (sKind === 'other') {
            fnOpen.call(window, sUrl, sTarget);
            return;
        }
        (sKind === 'top' || window.top !== window ? window.top : window).location.assign(sUrl);
    }

    // Hands a leave to the dialog; true when the dialog took it.
    function askDialog(url, fnProceed, fnPrepare) {
        var ev = new CustomEvent(LEAVE_EVENT, {
            cancelable: true,
            detail: {
                url: url.href,
                logoffUrl: webmailBase() + LOGOFF_PATH,
                prepare: fnPrepare || function () {},
                proceed: fnProceed
            }
        });
        document.dispatchEvent(ev);
        return ev.defaultPrevented;
    }

    function linkOf(node) {
        for (; node && node !== document; node = node.parentNode) {
            if (node.nodeType === 1 && (node.localName === 'a' || node.localName === 'area') &&
                node.hasAttribute('href'))
                return node;
        }
        return null;
    }

    function onClick(e) {
        if (bLeaving || e.defaultPrevented || e.button > 1)
            return;
        var link = linkOf(e.target);
        var url = link && parse(link.href);
        if (!url)
            return;
        var sTarget = link.target;
        // A middle click or a modifier opens another tab: the user does not leave this one.
        if (e.button === 1 || e.ctrlKey || e.metaKey || e.shiftKey)
            sTarget = '_blank';
        if (!leavesWebmail(url)) {
            noteOwnNavigation(url, targetKind(sTarget));
            return;
        }
        var holder = { win: null };
        if (askDialog(url, function () {
            if (holder.win && !holder.win.closed)
                holder.win.location.href = url.href;
            else
                leaveTo(url.href, sTarget);
        }, function () {
            // A window opened later than the click may be refused as a pop-up: open it now, fill it after.
            if (targetKind(sTarget) === 'other')
                holder.win = fnOpen.call(window, '', sTarget === '_blank' ? '_blank' : sTarget);
        }))
            e.preventDefault();
    }

    function onSubmit(e) {
        if (bLetThrough || bLeaving || e.defaultPrevented)
            return;
        var form = e.target;
        var submitter = e.submitter || null;
        var sAction = (submitter && submitter.getAttribute('formaction')) || form.getAttribute('action') || '';
        var url = parse(sAction || location.href);
        if (!url)
            return;
        var sTarget = (submitter && submitter.getAttribute('formtarget')) || form.target;
        if (!leavesWebmail(url)) {
            noteOwnNavigation(url, targetKind(sTarget));
            return;
        }
        if (askDialog(url, function () {
            bLeaving = true;
            writeSession(STATE_KEY, 'loggedoff');
            // The form goes where it was meant to, out of the frame when it would have stayed in it.
            var sOld = form.getAttribute('target');
            if (targetKind(sTarget) === 'self' && window.top !== window)
                form.setAttribute('target', '_top');
            bLetThrough = true;
            try {
                if (form.requestSubmit)
                    form.requestSubmit(submitter && submitter.form === form ? submitter : undefined);
                else
                    form.submit();
            } finally {
                bLetThrough = false;
                if (sOld === null)
                    form.removeAttribute('target');
                else
                    form.setAttribute('target', sOld);
            }
        }))
            e.preventDefault();
    }

    function guardedOpen(sUrl, sTarget, sFeatures) {
        var url = sUrl ? parse(String(sUrl)) : null;
        if (!leavesWebmail(url))
            return fnOpen.apply(window, arguments);
        var args = arguments;
        var holder = { win: null };
        var bClaimed = askDialog(url, function () {
            writeSession(STATE_KEY, 'loggedoff');
            if (holder.win && !holder.win.closed)
                holder.win.location.href = url.href;
            else
                fnOpen.apply(window, args);
        }, function () {
            holder.win = fnOpen.call(window, '', sTarget || '_blank', sFeatures);
        });
        // The caller gets no window: the user has not decided yet.
        return bClaimed ? null : fnOpen.apply(window, args);
    }

    // Script that sets the location (no link, no form) reaches us only where the browser reports
    // navigations before they happen.
    function onNavigate(e) {
        if (!e.cancelable || e.hashChange || e.downloadRequest || e.userInitiated)
            return;
        var url = parse(e.destination && e.destination.url);
        if (!leavesWebmail(url) || bLetThrough || bLeaving)
            return;
        if (askDialog(url, function () {
            leaveTo(url.href, '_self');
        }))
            e.preventDefault();
    }

    window.f_BKWK_Init = function () {
        var v = window.g_BKWK_showMsg;
        if (bStarted || !(v === 1 || v === true || v === '1'))
            return;
        bStarted = true;
        document.addEventListener('click', onClick, true);
        document.addEventListener('auxclick', onClick, true);
        document.addEventListener('submit', onSubmit, true);
        window.open = guardedOpen;
        if (window.navigation && typeof window.navigation.addEventListener === 'function')
            window.navigation.addEventListener('navigate', onNavigate);
    };
})();
