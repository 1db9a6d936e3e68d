#pragma once
// Texts the main window builds for and reads from the service's pages.
#include <string>

#include "session/PageClock.h"
#include "session/ServiceUrls.h"

// Reads the start/stop and login forms of a page's source (UTF-8).
TPageClock ReadPageClock(const std::string& html);

// Decodes HTML character references: every named one of HTML (the table of
// the XML library), decimal "&#NNN;" and hexadecimal "&#xHH;". Text that is
// not a complete reference with a valid value stays as it is.
std::string DecodeHtmlText(const std::string& text);

// Every "&" replaced by `with`.
std::string ReplaceAmpersands(const std::string& text, const std::string& with);

// The form in which the browser engine reports a URL (scheme and host in
// lower case, no default port, percent escapes upper-cased, "/" after a bare
// host), so that addresses compare as addresses.
std::string CanonicalUrl(const std::string& url);

