#include "serial/line_status.h"

#include <cerrno>
#include <cstring>

LineError ErrorKindOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return LineError::kNoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return LineError::kPermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return LineError::kBusy;
    case ENOTTY:
    case EISDIR:
        return LineError::kNotASerialPort;
    default:
        return LineError::kOther;
    }
}

LineStatus SystemFailure(LineError kind, const std::string& what, int error) {
    return {kind, what + " (" + std::strerror(error) + ")"};
}

LineStatus PathFailure(const std::string& path, int error, const std::string& advice) {
    const LineError kind = ErrorKindOf(error);
    const char* words = kind == LineError::kNoSuchPort         ? "no such port"
                        : kind == LineError::kPermissionDenied ? "permission denied"
                        : kind == LineError::kBusy
                            ? "port busy: another program holds it for its own use"
                        : kind == LineError::kNotASerialPort ? "not a serial port"
                                                             : "cannot open";
    LineStatus status = SystemFailure(kind, path + ": " + words, error);
    status.message += advice;
    return status;
}
