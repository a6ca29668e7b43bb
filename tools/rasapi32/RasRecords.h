// The 32-bit record forms of the RAS functions as the dial-up component passes them: the oldest
// ANSI layouts, naturally aligned (each record is padded to a multiple of four bytes).
#pragma once

#include <windows.h>

#include <cstddef>

namespace pw::rassim {

constexpr size_t kEntryNameChars = 256;
constexpr size_t kDeviceTypeChars = 16;
constexpr size_t kDeviceNameChars = 128;
constexpr size_t kPhoneNumberChars = 128;
constexpr size_t kUserNameChars = 256;
constexpr size_t kPasswordChars = 256;
constexpr size_t kDomainChars = 15;
constexpr size_t kIpAddressChars = 15;

struct RasEntryName {
    DWORD dwSize;
    char szEntryName[kEntryNameChars + 1];
};

struct RasConn {
    DWORD dwSize;
    HANDLE hrasconn;
    char szEntryName[kEntryNameChars + 1];
    char szDeviceType[kDeviceTypeChars + 1];
    char szDeviceName[kDeviceNameChars + 1];
};

struct RasPppIp {
    DWORD dwSize;
    DWORD dwError;
    char szIpAddress[kIpAddressChars + 1];
};

struct RasDialParams {
    DWORD dwSize;
    char szEntryName[kEntryNameChars + 1];
    char szPhoneNumber[kPhoneNumberChars + 1];
    char szCallbackNumber[kPhoneNumberChars + 1];
    char szUserName[kUserNameChars + 1];
    char szPassword[kPasswordChars + 1];
    char szDomain[kDomainChars + 1];
};

static_assert(sizeof(RasEntryName) == 264);
static_assert(sizeof(RasConn) == 412);
static_assert(offsetof(RasConn, szEntryName) == 8);
static_assert(offsetof(RasConn, szDeviceType) == 265);
static_assert(offsetof(RasConn, szDeviceName) == 282);
static_assert(sizeof(RasPppIp) == 24);
static_assert(sizeof(RasDialParams) == 1052);
static_assert(offsetof(RasDialParams, szUserName) == 519);
static_assert(offsetof(RasDialParams, szPassword) == 776);
static_assert(offsetof(RasDialParams, szDomain) == 1033);

// Notifier type of RasDialA that names a window; projection code of PPP IP.
constexpr DWORD kNotifierWindow = 0xFFFFFFFF;
constexpr DWORD kProjectionPppIp = 0x8021;
constexpr DWORD kStateConnected = 0x2000;

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorBufferTooSmall = 603;
constexpr DWORD kErrorCannotFindPhonebookEntry = 623;
constexpr DWORD kErrorInvalidSize = 632;
constexpr DWORD kErrorProjectionNotComplete = 730;
constexpr DWORD kErrorProtocolNotConfigured = 731;

} // namespace pw::rassim
