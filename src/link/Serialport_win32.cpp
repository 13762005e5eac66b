// Win32 backend of SerialPort: the device opened for overlapped input and output, so that
// reads can wait a bounded time and writes can wait for completion; the time-out mode is
// the driver's COMMTIMEOUTS.
#include <windows.h>

#include "link/Serialport.h"

struct SerialPort::Native {
    OVERLAPPED readOverlapped{};   // its hEvent is the read event
    OVERLAPPED writeOverlapped{};  // its hEvent is the write event
    HANDLE device = INVALID_HANDLE_VALUE;
    DCB control{};
    COMMTIMEOUTS timeouts{};
};

namespace {

constexpr DWORD kMessageTextSize = 200;

// The five time-out members for a mode. Blocking: a read ends 1 ms after its last byte
// once one has come, a write has no limit. Non-blocking: a read returns at once with what
// is there, a write is bounded as Line says.
void SetTimeoutMode(COMMTIMEOUTS& timeouts, bool blocking) {
    timeouts.ReadIntervalTimeout = blocking ? 1 : MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = blocking ? MAXDWORD : 0;
    timeouts.WriteTotalTimeoutMultiplier = blocking ? 0 : static_cast<DWORD>(Line::kWriteMsPerByte);
    timeouts.WriteTotalTimeoutConstant = blocking ? MAXDWORD : static_cast<DWORD>(Line::kWriteMsConstant);
}

BYTE ParityOf(int selector) {
    switch (selector) {
        case 1:
            return ODDPARITY;
        case 3:
            return EVENPARITY;
        default:
            return NOPARITY;
    }
}

HANDLE NewManualResetEvent() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseIfOpen(HANDLE& handle, HANDLE closedValue) {
    if (handle != closedValue) {
        CloseHandle(handle);
        handle = closedValue;
    }
}

}  // namespace

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {}

SerialPort::~SerialPort() {
    SerialPort::Close();
}

void SerialPort::RecordError(uint32_t code) {
    char text[kMessageTextSize] = {};
    // IGNORE_INSERTS: without arguments, a message with %1 in it must not be expanded.
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0x400, text, kMessageTextSize, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    RecordError(code, message);
}

bool SerialPort::ApplyTimeoutMode() {
    Native& n = *native_;
    if (n.device == INVALID_HANDLE_VALUE) {
        return true;  // remembered; the next Open applies it
    }
    if (!GetCommTimeouts(n.device, &n.timeouts)) {
        RecordError(GetLastError());
        return false;
    }
    SetTimeoutMode(n.timeouts, Blocking());
    if (!SetCommTimeouts(n.device, &n.timeouts)) {
        RecordError(GetLastError());
        return false;
    }
    return true;
}

bool SerialPort::OpenDevice(const std::string& name, uint32_t baudRate, int parity) {
    if (open_) {
        return false;
    }
    Native& n = *native_;
    SetLastError(0);
    const std::string path = "\\\\.\\" + name;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    attributes.lpSecurityDescriptor = nullptr;
    n.device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (n.device == INVALID_HANDLE_VALUE) {
        RecordError(GetLastError());
        return false;
    }
    // Each step below that fails records its error, releases what was acquired and
    // leaves the object closed.
    auto fail = [&](DWORD code) {
        RecordError(code);
        CloseIfOpen(n.device, INVALID_HANDLE_VALUE);
        CloseIfOpen(n.readOverlapped.hEvent, nullptr);
        return false;
    };
    if (!GetCommState(n.device, &n.control)) {
        return fail(GetLastError());
    }
    n.control.BaudRate = baudRate;
    n.control.Parity = ParityOf(parity);
    n.control.ByteSize = 8;
    n.control.StopBits = ONESTOPBIT;
    n.control.fOutX = FALSE;
    n.control.fInX = FALSE;
    n.control.fOutxCtsFlow = FALSE;
    n.control.fOutxDsrFlow = FALSE;
    n.control.fDsrSensitivity = FALSE;
    n.control.fAbortOnError = FALSE;
    n.control.fDtrControl = DTR_CONTROL_DISABLE;
    n.control.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(n.device, &n.control)) {
        return fail(GetLastError());
    }
    if (!ApplyTimeoutMode()) {
        return fail(LastErrorCode());
    }
    if (!PurgeComm(n.device, PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return fail(GetLastError());
    }
    n.readOverlapped = OVERLAPPED{};
    n.readOverlapped.hEvent = NewManualResetEvent();
    if (n.readOverlapped.hEvent == nullptr) {
        return fail(GetLastError());
    }
    n.writeOverlapped = OVERLAPPED{};
    n.writeOverlapped.hEvent = NewManualResetEvent();
    if (n.writeOverlapped.hEvent == nullptr) {
        return fail(GetLastError());
    }
    open_ = true;
    return true;
}

void SerialPort::CloseDevice() {
    Native& n = *native_;
    CloseIfOpen(n.device, INVALID_HANDLE_VALUE);
    CloseIfOpen(n.readOverlapped.hEvent, nullptr);
    CloseIfOpen(n.writeOverlapped.hEvent, nullptr);
    open_ = false;
}

bool SerialPort::ReadDevice(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (received != nullptr) {
        *received = 0;
    }
    Native& n = *native_;
    if (n.device == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD count = 0;
    if (ReadFile(n.device, buffer, capacity, &count, &n.readOverlapped)) {
        if (received != nullptr) {
            *received = count;
        }
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        RecordError(GetLastError());
        return false;
    }
    const DWORD wait = waitMs < 0 ? INFINITE : static_cast<DWORD>(waitMs);
    const DWORD waited = WaitForMultipleObjects(1, &n.readOverlapped.hEvent, FALSE, wait);
    BOOL done = FALSE;
    if (waited == WAIT_OBJECT_0) {
        done = GetOverlappedResult(n.device, &n.readOverlapped, &count, FALSE);
    } else {
        // Cancel the read and wait until the driver lets go of the buffer, so that a late
        // completion cannot write into memory the caller has moved on from. A read that
        // completed in the meantime still counts: its bytes are not thrown away.
        const DWORD waitError = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
        CancelIoEx(n.device, &n.readOverlapped);
        count = 0;
        GetOverlappedResult(n.device, &n.readOverlapped, &count, TRUE);
        done = count > 0 ? TRUE : FALSE;
        if (!done) {
            SetLastError(waitError);
        }
    }
    const DWORD error = GetLastError();
    ResetEvent(n.readOverlapped.hEvent);
    if (!done) {
        RecordError(error);
        return false;
    }
    if (received != nullptr) {
        *received = count;
    }
    return true;
}

bool SerialPort::WriteDevice(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    Native& n = *native_;
    if (n.device == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD sent = 0;
    if (!WriteFile(n.device, buffer, count, &sent, &n.writeOverlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            RecordError(GetLastError());
            return false;
        }
        if (WaitForSingleObject(n.writeOverlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
            RecordError(GetLastError());
            return false;
        }
        const BOOL done = GetOverlappedResult(n.device, &n.writeOverlapped, &sent, FALSE);
        const DWORD error = GetLastError();
        ResetEvent(n.writeOverlapped.hEvent);
        if (!done) {
            RecordError(error);
            return false;
        }
    }
    if (written != nullptr) {
        *written = sent;
    }
    // The driver ended the write at its time-out with bytes left over: that is a failure,
    // not a success with a short count that most callers never look at.
    if (sent < count) {
        RecordError(ERROR_TIMEOUT);
        return false;
    }
    return true;
}

bool SerialPort::SetDeviceRate(uint32_t baudRate) {
    Native& n = *native_;
    if (!GetCommState(n.device, &n.control)) {
        RecordError(GetLastError());
        return false;
    }
    n.control.BaudRate = baudRate;
    if (!SetCommState(n.device, &n.control)) {
        RecordError(GetLastError());
        return false;
    }
    return true;
}

void SerialPort::PurgeDevice() {
    if (native_->device != INVALID_HANDLE_VALUE) {
        PurgeComm(native_->device, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
}
