/* Wendrake guard: the warning dialog of a guarded webmail page.
 *
 * The module writes the dialog into the page, hidden, in the user's language: the element "idbkWK" with the
 * buttons "idbkReturn" (bkCancelButtonClick) and "idbkLogOff" (bkLogoffButtonClick), each with its access
 * key, and on the premium page the hover handlers btnOnMsOvrBtn and btnOnMsOutBtn. Those four functions are
 * the only globals this file adds. bk_WKSubFrUtil.js hands over each leave as a "bkwk-leave" event.
 */
(function () {
    'use strict';

    var DIALOG_ID = 'idbkWK';
    var RETURN_ID = 'idbkReturn';
    var LOGOFF_ID = 'idbkLogOff';
    var LOGOFF_TIMEOUT_MS = 8000;
    // Rules inside :where() weigh nothing: a webmail theme that styles these classes wins; without one the dialog
    // stays legible.
    var DEFAULT_STYLE =
        ':where(#idbkWK){background-color:#fff;color:#000;box-shadow:0 4px 24px rgba(0,0,0,.35);' +
        'box-sizing:border-box;max-width:calc(100vw - 16px);max-height:calc(100vh - 16px);overflow:auto;' +
        'font:13px/1.4 Tahoma,Arial,sans-serif}' +
        ':where(#idbkWK .tbhd){width:100%;background-color:#3e6eb5}' +
        ':where(#idbkWK .tbhd caption,#idbkWK .tbft caption){display:none}' +
        ':where(#idbkWK .tbft){width:100%;background-color:#dde6f4}' +
        ':where(#idbkWK .rmTtl){font-weight:bold;padding:2px 0 6px}' +
        ':where(#idbkWK button){cursor:pointer}' +
        ':where(#idbkWK button:focus-visible){outline:2px solid #1a5fb4}';

    var pending = null;
    var overlay = null;
    var previousFocus = null;
    var bBusy = false;

    function dialog() {
        return document.getElementById(DIALOG_ID);
    }

    function button(sId) {
        var el = document.getElementById(sId);
        return el && dialog() && dialog().contains(el) ? el : null;
    }

    function addDefaultStyle() {
        if (document.getElementById('idbkWKStyle'))
            return;
        var style = document.createElement('style');
        style.id = 'idbkWKStyle';
        style.textContent = DEFAULT_STYLE;
        (document.head || document.documentElement).appendChild(style);
    }

    function titleText(dlg) {
        var title = dlg.querySelector('.rmTtl') || dlg.querySelector('b');
        return title ? title.textContent.replace(/\s+/g, ' ').trim() : '';
    }

    function show(detail) {
        var dlg = dialog();
        pending = detail;
        previousFocus = document.activeElement;
        addDefaultStyle();
        if (!overlay) {
            overlay = document.createElement('div');
            overlay.style.cssText = 'position:fixed;inset:0;background:rgba(0,0,0,.25);z-index:2147483000;';
            overlay.addEventListener('mousedown', function (e) {
                e.preventDefault();
            });
        }
        dlg.parentNode.insertBefore(overlay, dlg);
        dlg.setAttribute('role', 'alertdialog');
        dlg.setAttribute('aria-modal', 'true');
        dlg.setAttribute('aria-label', titleText(dlg));
        // Centred in the window whatever the page scrolled to, and kept there when the window changes size.
        var st = dlg.style;
        st.position = 'fixed';
        st.left = '50%';
        st.top = '50%';
        st.transform = 'translate(-50%, -50%)';
        st.zIndex = '2147483001';
        st.visibility = 'visible';
        st.display = 'block';
        var ret = button(RETURN_ID);
        if (ret)
            ret.focus();
        document.addEventListener('keydown', onKeyDown, true);
    }

    function hide() {
        var dlg = dialog();
        document.removeEventListener('keydown', onKeyDown, true);
        if (dlg)
            dlg.style.visibility = 'hidden';
        if (overlay && overlay.parentNode)
            overlay.parentNode.removeChild(overlay);
        pending = null;
    }

    function buttons() {
        return [button(RETURN_ID), button(LOGOFF_ID)].filter(Boolean);
    }

    function onKeyDown(e) {
        if (!pending)
            return;
        if (e.key === 'Escape' || e.key === 'Esc') {
            e.preventDefault();
            e.stopPropagation();
            window.bkCancelButtonClick();
            return;
        }
        var list = buttons();
        if (e.key === 'Tab' && list.length) {
            // Focus stays in the dialog while it is open.
            var i = list.indexOf(document.activeElement);
            var next = e.shiftKey ? (i <= 0 ? list.length - 1 : i - 1) : (i + 1) % list.length;
            e.preventDefault();
            list[next].focus();
            return;
        }
        if (e.ctrlKey || e.metaKey || !e.key || e.key.length !== 1)
            return;
        // The access keys work with the browser's own modifier and, while the dialog is open, alone.
        var sKey = e.key.toLowerCase();
        for (var n = 0; n < list.length; ++n) {
            var sAccess = (list[n].getAttribute('accesskey') || '').toLowerCase();
            if (sAccess && sAccess === sKey) {
                e.preventDefault();
                e.stopPropagation();
                list[n].click();
                return;
            }
        }
    }

    function logoff(sUrl) {
        var controller = window.AbortController ? new AbortController() : null;
        var timer = setTimeout(function () {
            if (controller)
                controller.abort();
        }, LOGOFF_TIMEOUT_MS);
        return fetch(sUrl, {
            method: 'GET',
            credentials: 'include',
            cache: 'no-store',
            redirect: 'follow',
            signal: controller ? controller.signal : undefined
        }).then(function (r) {
            return r.ok || r.type === 'opaqueredirect' || (r.status >= 300 && r.status < 400);
        }, function () {
            return false;
        }).then(function (bDone) {
            clearTimeout(timer);
            // Where the request failed or hung, one more try that outlives the page.
            if (!bDone && navigator.sendBeacon)
                navigator.sendBeacon(sUrl);
        });
    }

    document.addEventListener('bkwk-leave', function (e) {
        var detail = e.detail;
        if (!detail || typeof detail.proceed !== 'function' || !dialog() || !button(LOGOFF_ID))
            return;
        e.preventDefault();
        if (pending || bBusy)
            return;
        show(detail);
    });

    window.bkCancelButtonClick = function () {
        if (!pending || bBusy)
            return;
        hide();
        if (previousFocus && typeof previousFocus.focus === 'function' && document.contains(previousFocus))
            previousFocus.focus();
    };

    window.bkLogoffButtonClick = function () {
        if (!pending || bBusy)
            return;
        var detail = pending;
        bBusy = true;
        buttons().forEach(function (b) {
            b.disabled = true;
        });
        try {
            detail.prepare();
        } catch (ignore) {
            // A window that could not be opened now is opened when the navigation goes on.
        }
        var done = function () {
            hide();
            bBusy = false;
            buttons().forEach(function (b) {
                b.disabled = false;
            });
            detail.proceed();
        };
        logoff(detail.logoffUrl).then(done, done);
    };

    window.btnOnMsOvrBtn = function (el) {
        if (el && el.style)
            el.style.backgroundColor = '#ffe8a6';
    };

    window.btnOnMsOutBtn = function (el) {
        if (el && el.style)
            el.style.backgroundColor = '';
    };
})();
