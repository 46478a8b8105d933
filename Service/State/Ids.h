// Identifiers: the ones the service makes itself (upload names, blob ids,
// upload addresses, link ids, hub cookies) and the checks applied to the ones
// clients send before they are used as keys.
#pragma once

#include <string>
#include <string_view>

namespace orvex::service {

// 32 random lower-case hexadecimal digits.
std::string newServiceId();

// A new random UUID in its 36-character form, lower case (transmit ids of
// changes the service makes itself).
std::string newGuid();

// True for exactly what newServiceId() and derivedId() make. Only such ids
// ever name a file of the blob folder.
bool isServiceId(std::string_view id);

// A share id or internal name as clients and configuration send them:
// 1 to 128 characters out of A-Z, a-z, 0-9, "-" and "_" (GUIDs, hex ids).
bool isClientId(std::string_view id);

// Lower-case hexadecimal text of `bytes`.
std::string hexText(std::string_view bytes);

// A stable 32-digit id made from `text` (seed nodes, user ids), so that a
// configuration gives the same ids on every start.
std::string derivedId(std::string_view text);

} // namespace orvex::service
