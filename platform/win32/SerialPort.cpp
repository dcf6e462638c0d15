#include "platform/win32/SerialPort.h"

#include "platform/win32/Text.h"

namespace veldrix {

bool SerialPort::Open(const std::string& name) {
    Close();
    // The device namespace also reaches COM10 and above.
    std::wstring path = L"\\\\.\\" + Widen(name);
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return IsOpen();
}

void SerialPort::Close() {
    if (!IsOpen()) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool SerialPort::SetQueues(size_t input, size_t output) {
    return IsOpen() && SetupComm(handle_, DWORD(input), DWORD(output));
}

bool SerialPort::SetTimeouts(const PortTimeouts& t) {
    if (!IsOpen()) return false;
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = DWORD(t.readInterval);
    ct.ReadTotalTimeoutMultiplier = DWORD(t.readTotalMultiplier);
    ct.ReadTotalTimeoutConstant = DWORD(t.readTotalConstant);
    ct.WriteTotalTimeoutMultiplier = DWORD(t.writeTotalMultiplier);
    ct.WriteTotalTimeoutConstant = DWORD(t.writeTotalConstant);
    return SetCommTimeouts(handle_, &ct);
}

bool SerialPort::Purge() {
    return IsOpen() && PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool SerialPort::SetLine(const std::string& mode) {
    if (!IsOpen()) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    // A line error must not stall every later transfer until it is cleared.
    dcb.fAbortOnError = FALSE;
    dcb.fParity = TRUE;
    if (!BuildCommDCBA(mode.c_str(), &dcb)) return false;
    return SetCommState(handle_, &dcb);
}

uint32_t SerialPort::ModemStatus() {
    DWORD status = 0;
    if (!IsOpen() || !GetCommModemStatus(handle_, &status)) return 0;
    return status;
}

void SerialPort::WaitTransmitEmpty() {
    if (!IsOpen()) return;
    DWORD events = 0;
    if (SetCommMask(handle_, EV_TXEMPTY)) {
        WaitCommEvent(handle_, &events, nullptr);
    } else {
        FlushFileBuffers(handle_);
    }
}

size_t SerialPort::Read(uint8_t* buffer, size_t count) {
    DWORD got = 0;
    if (!IsOpen() || !ReadFile(handle_, buffer, DWORD(count), &got, nullptr)) return got;
    return got;
}

size_t SerialPort::Write(const uint8_t* data, size_t count) {
    DWORD put = 0;
    if (!IsOpen() || !WriteFile(handle_, data, DWORD(count), &put, nullptr)) return put;
    return put;
}

}  // namespace veldrix
