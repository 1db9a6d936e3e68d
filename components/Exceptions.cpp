#include "components/Exceptions.h"

#include <cstring>

namespace {
const char* BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* back = std::strrchr(path, '\\');
    if (back && (!slash || back > slash)) slash = back;
    return slash ? slash + 1 : path;
}
}

EAssertionFailed::EAssertionFailed(const std::string& text, const char* file, int line)
    : Exception(text + " (" + BaseName(file) + ", line " + std::to_string(line) + ")")
{
}
