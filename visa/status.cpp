#include "visa/status.h"

#include <cstdio>

namespace ovisa {

namespace {

struct StatusRow
{
    ViStatus code;
    const char* text;
};

const StatusRow Statuses[] = {
    {VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: The read stopped at the termination character."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: The read stopped after the requested number of bytes; the message goes on."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: The object reference was VI_NULL."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: The status code is not known to this library."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: The operating system refused a request of the library."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: The session or object reference is not valid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED: The resource is locked by another link."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: The search expression is not valid."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: The resource was not found or cannot be reached."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: The resource name is not valid."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: The access mode is not valid or not supported."},
    {VI_ERROR_TMO, "VI_ERROR_TMO: The time-out expired before the operation completed."},
    {VI_ERROR_CLOSING_FAILED, "VI_ERROR_CLOSING_FAILED: The session could not be closed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: The attribute is not supported by this session."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: The attribute value is not supported."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: The attribute is read-only."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT: The operation was aborted."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: Not enough memory or device resources."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK: The buffer mask is not valid."},
    {VI_ERROR_IO, "VI_ERROR_IO: An I/O error occurred or the device broke the protocol."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT: The format string is not valid."},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT: The format string uses a conversion this library does not support."},
    {VI_ERROR_NSUP_MODE, "VI_ERROR_NSUP_MODE: The mode is not supported by this session."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: The operation is not supported by this session."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: A user buffer is missing."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER: A parameter is not valid."},
    {VI_ERROR_INV_SIZE, "VI_ERROR_INV_SIZE: The size is not valid."},
    {VI_ERROR_NIMPL_OPER, "VI_ERROR_NIMPL_OPER: The operation is not implemented."},
    {VI_ERROR_INV_MODE, "VI_ERROR_INV_MODE: The mode is not valid."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED: The session holds no lock."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND: A library needed by VISA was not found."},
    {VI_ERROR_FILE_ACCESS, "VI_ERROR_FILE_ACCESS: The file could not be opened."},
    {VI_ERROR_FILE_IO, "VI_ERROR_FILE_IO: Writing the file failed."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: The connection to the instrument was lost."},
    {VI_ERROR_MACHINE_NAVAIL, "VI_ERROR_MACHINE_NAVAIL: The remote machine is not available."},
};

} // namespace

ViStatus describeStatus(ViStatus status, char* desc, size_t size)
{
    for (const StatusRow& row : Statuses) {
        if (row.code == status) {
            std::snprintf(desc, size, "%s", row.text);
            return VI_SUCCESS;
        }
    }
    std::snprintf(desc, size, "Unknown status 0x%08X.", unsigned(status));
    return VI_WARN_UNKNOWN_STATUS;
}

} // namespace ovisa
