#include "browser/TCppWebBrowserUtils.h"

#include <new>

#include "components/CppWebBrowser.h"
#include "platform/Platform.h"

namespace {
IHtmlDocument* CurrentDocument(TCppWebBrowser* browser)
{
    return browser ? browser->Document() : nullptr;
}
}  // namespace

void WebBrowserRemoveBorder(TCppWebBrowser* browser, bool hideScrollBars)
{
    IHtmlDocument* doc = CurrentDocument(browser);
    if (!doc || !doc->HasBody() || !doc->BodyIsBodyElement()) return;
    doc->SetBodyBorderStyle("none");
    if (hideScrollBars) doc->SetBodyScroll("no");
}

void WebBrowserExecScript(TCppWebBrowser* browser, const std::string& script)
{
    if (IHtmlDocument* doc = CurrentDocument(browser)) doc->ExecScript(script);
}

std::string WebBrowserGetHtml(TCppWebBrowser* browser)
{
    IHtmlDocument* doc = CurrentDocument(browser);
    if (!doc) return {};
    try {
        std::string html;
        if (!doc->SaveHtml(html)) return {};
        return html;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void WebBrowserNavigatePost(TCppWebBrowser* browser, const std::string& url, const std::string& postData)
{
    if (!browser) return;
    std::string headers;
    try {
        headers = "Content-Type: application/x-www-form-urlencoded\r\n";
    } catch (const std::bad_alloc&) {
        if (IMessageBox* box = CurrentPlatform().MessageBox)
            box->Show("Could not allocate bstrHeaders", "Warning", MB_OK | MB_ICONWARNING);
        return;
    }
    std::string body;
    try {
        body.assign(postData.data(), postData.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    browser->Navigate(url, 0, {}, body, headers);
}
