// The user's preferred interface languages, taken from the POSIX locale
// environment, and the check a language code must pass before it is used in a
// file name.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Looks up one environment variable; nullopt when it is not set (the same
// shape as XdgEnvironment::variable, whose process version serves here too).
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// True for 1 to 32 ASCII letters, digits, '_' and '-'; such a code can name a
// file in the string-table folder without leaving it.
bool isValidLanguageCode(std::string_view code);

// Candidate language codes in the user's order of preference: each entry of
// the colon-separated LANGUAGE list, then the locale named by the first
// non-empty of LC_ALL, LC_MESSAGES and LANG (the one that decides message
// texts). A locale like "de_DE.UTF-8@euro" yields "de_DE" then "de"; "C" and
// "POSIX" yield nothing. Codes failing isValidLanguageCode are left out, and
// each code appears once.
std::vector<std::string> preferredLanguages(const EnvironmentLookup& environment);

} // namespace orvex
