// Deterministic contents for seed files: byte i of the content of seed s
// depends only on s and i, so any range of a 50 MiB (or 512 MiB) demo file is
// produced on demand without storing it, and a test can compute the bytes it
// expects to receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvex::service {

// Writes the `length` bytes of seed `seed` that start at `offset` into `out`.
void fillSeeded(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length);

std::string seededBytes(std::uint64_t seed, std::uint64_t offset, std::size_t length);

} // namespace orvex::service
