#include "platform/win32/SerialPort.h"

#include "platform/win32/Text.h"

namespace veldrix {

bool SerialPort::Open(const std::string& name) {
    Close();
    // The device namespace also reaches COM10 and above.
    std::wstring path = L"\\\\.\\" + Widen(name);
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!IsOpen()) {
        DWORD error = GetLastError();
        // A COM port another program holds answers "access denied".
        openError_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "没有该端口 (适配器未插上?)"
                     : error == ERROR_ACCESS_DENIED                                  ? "端口正被其它程序占用"
                                                                                     : SystemMessage(error);
    }
    return IsOpen();
}

void SerialPort::Close() {
    if (!IsOpen()) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool SerialPort::Lost() {
    Close();
    return false;
}

bool SerialPort::SetQueues(size_t input, size_t output) {
    if (!IsOpen()) return false;
    return SetupComm(handle_, DWORD(input), DWORD(output)) || Lost();
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
    if (!IsOpen()) return false;
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool MakeLineSettings(const std::string& mode, DCB& dcb) {
    // From zero, not from the driver's last state: flow control, DSR
    // sensitivity, null stripping or an error character another program
    // left behind would silently hold or drop bytes.
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    // A line error must not stall every later transfer until it is cleared.
    dcb.fAbortOnError = FALSE;
    dcb.fParity = TRUE;
    if (!BuildCommDCBA(mode.c_str(), &dcb)) return false;
    dcb.fBinary = TRUE;  // the only mode Windows supports
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = FALSE;
    // Windows refuses a record whose XON and XOFF characters are equal.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return true;
}

bool SerialPort::SetLine(const std::string& mode) {
    DCB dcb;
    if (!IsOpen() || !MakeLineSettings(mode, dcb)) return false;
    return SetCommState(handle_, &dcb) || Lost();
}

std::string SerialPort::LineReadBack() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !GetCommState(handle_, &dcb)) return {};
    const char parity = dcb.Parity == EVENPARITY ? 'E' : dcb.Parity == ODDPARITY ? 'O' : dcb.Parity == NOPARITY ? 'N' : '?';
    return "baud=" + std::to_string(dcb.BaudRate) + " parity=" + std::string(1, parity) +
           " data=" + std::to_string(dcb.ByteSize) + " stop=" + (dcb.StopBits == TWOSTOPBITS ? "2" : "1");
}

std::optional<uint32_t> SerialPort::ModemStatus() {
    if (!IsOpen()) return std::nullopt;
    DWORD status = 0;
    if (GetCommModemStatus(handle_, &status)) return status;
    // A port without modem lines refuses the request as not supported (Wine
    // on a pseudo-terminal does): the line is still there, with no busy line
    // to show. Any other failure is a port that has gone.
    if (GetLastError() == ERROR_NOT_SUPPORTED) return 0;
    Lost();
    return std::nullopt;
}

bool SerialPort::ArmTransmitEmpty() { return IsOpen() && (SetCommMask(handle_, EV_TXEMPTY) || Lost()); }

// The output queue drained, polled: an event that fired before anyone waited
// for it would leave WaitCommEvent waiting for ever.
bool SerialPort::WaitTransmitEmpty(int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!IsOpen()) return false;
        if (!ClearCommError(handle_, &errors, &stat)) return Lost();
        if (stat.cbOutQue == 0) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(1);
    }
}

// A read that times out returns what came, nothing included; only a read the
// driver refuses is a lost port.
size_t SerialPort::Read(uint8_t* buffer, size_t count) {
    DWORD got = 0;
    if (IsOpen() && !ReadFile(handle_, buffer, DWORD(count), &got, nullptr)) Lost();
    return got;
}

size_t SerialPort::Write(const uint8_t* data, size_t count) {
    DWORD put = 0;
    if (IsOpen() && !WriteFile(handle_, data, DWORD(count), &put, nullptr)) Lost();
    return put;
}

}  // namespace veldrix
