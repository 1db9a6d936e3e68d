#pragma once
#include <cstdint>
#include <string>

// Opens a document or URL with the user's default program. The result is
// above 32 on success, as the callers test it.
class IShell {
public:
    virtual ~IShell() = default;
    virtual std::intptr_t ShellExecute(const std::string& verb, const std::string& file) = 0;
};

// What the user is told when no program opened a link.
inline std::string OpenLinkErrorText(const std::string& url)
{
    return "There was an error opening the link '" + url + "'.";
}
