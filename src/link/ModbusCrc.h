#pragma once
#include <QtGlobal>

#include <span>

// CRC-16/MODBUS of an RTU frame; on the wire the low byte goes first.
// Header-only so that the simulator, which links none of the station's
// libraries, frames its replies with the same code as the station.
constexpr quint16 modbusCrc16(std::span<const quint8> data)
{
    quint16 crc = 0xFFFF;
    for (quint8 byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}
