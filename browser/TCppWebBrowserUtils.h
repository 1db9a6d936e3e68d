#pragma once
// Routines that reach through the browser control into the page it shows.
// They keep nothing and report nothing: each does its work or quietly does
// nothing (no document, no body, no memory).
#include <string>

#include "browser/MyDocHandler.h"

class TCppWebBrowser;

// Sets the page body's border style to "none"; hideScrollBars also turns the
// page's scroll bars off. Nothing for a document without a plain body.
void WebBrowserRemoveBorder(TCppWebBrowser* browser, bool hideScrollBars);
// Runs the script in the page's window; its value and errors are not looked at.
void WebBrowserExecScript(TCppWebBrowser* browser, const std::string& script);
// The current document's HTML; empty when there is none or it cannot be read.
std::string WebBrowserGetHtml(TCppWebBrowser* browser);
// Starts a form post of postData (byte for byte) to url and returns at once;
// wait for the browser's Busy to turn false for the page.
void WebBrowserNavigatePost(TCppWebBrowser* browser, const std::string& url, const std::string& postData);
