#pragma once
// What a failed load of the service means, in words a user understands: the
// engine's failure (its domain, its network error number or name, a refused
// certificate) becomes a sentence that names the host, and the judgement
// whether trying again can mend it.
#include <string>

#include "platform/Browser.h"

struct TLoadFailure {
    // The sentence for the status page and the tray hint, without the code.
    std::string Sentence;
    // The engine's own name of the failure ("net::ERR_UNSAFE_PORT"), shown in
    // brackets after the sentence; empty when there is none to show.
    std::string Code;
    // No retry can mend it (an unsafe port, an invalid address, a certificate
    // not trusted, a sign-in the program cannot give): the link waits for the user.
    bool Permanent = false;
    // Nothing of the request can have reached the service (refused,
    // unresolved, untrusted before a request went).
    bool NothingSent = false;

    // The sentence with the code in brackets after it.
    std::string Text() const { return Code.empty() ? Sentence : Sentence + " (" + Code + ")"; }
};

TLoadFailure DescribeLoadFailure(const TNavigateErrorArgs& error);

// "host:port" of an address as typed, in lower case ("127.0.0.1:9").
std::string HostOfUrl(const std::string& url);
