#pragma once

// The board's presence handshake, the same for the link and the port probes:
// the host sends ENQ, a board answers ACK.
namespace Handshake {

constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr int Attempts = 3;
constexpr int AttemptMs = 100;

} // namespace Handshake
