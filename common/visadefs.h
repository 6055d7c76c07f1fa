/*
 * Types, status codes and attribute values of the IVI VISA interface that
 * Orvex uses: shared by the VISA layer that loads any VISA library at run
 * time and by Orvex's own VISA library. Values are the standard's, so any
 * conforming library interprets them the same way. Plain C, no Qt.
 */
#pragma once

#include <stdint.h>

typedef uint32_t ViUInt32;
typedef int32_t ViInt32;
typedef uint16_t ViUInt16;
typedef int16_t ViInt16;
typedef uint64_t ViUInt64;
typedef unsigned char ViByte;
typedef uint8_t ViUInt8;
typedef ViUInt16 ViBoolean;
typedef char ViChar;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef ViInt32 ViStatus;
typedef ViUInt32 ViAttr;
typedef ViUInt64 ViAttrState;   /* 64-bit platforms */
typedef ViUInt32 ViAccessMode;
typedef ViByte* ViBuf;
typedef const ViByte* ViConstBuf;
typedef const ViChar* ViConstString;
typedef const ViChar* ViConstRsrc;
typedef ViSession* ViPSession;
typedef ViFindList* ViPFindList;
typedef ViUInt32* ViPUInt32;
typedef ViUInt16* ViPUInt16;
typedef ViByte* ViPBuf;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0

/* Completion codes */
#define VI_SUCCESS              ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR    ((ViStatus)0x3FFF0005L)
#define VI_SUCCESS_MAX_CNT      ((ViStatus)0x3FFF0006L)
#define VI_WARN_NULL_OBJECT     ((ViStatus)0x3FFF0082L)
#define VI_WARN_UNKNOWN_STATUS  ((ViStatus)0x3FFF0085L)

/* Errors (negative as ViStatus) */
#define VI_ERROR_SYSTEM_ERROR   ((ViStatus)0xBFFF0000L)
#define VI_ERROR_INV_OBJECT     ((ViStatus)0xBFFF000EL)
#define VI_ERROR_RSRC_LOCKED    ((ViStatus)0xBFFF000FL)
#define VI_ERROR_INV_EXPR       ((ViStatus)0xBFFF0010L)
#define VI_ERROR_RSRC_NFOUND    ((ViStatus)0xBFFF0011L)
#define VI_ERROR_INV_RSRC_NAME  ((ViStatus)0xBFFF0012L)
#define VI_ERROR_INV_ACC_MODE   ((ViStatus)0xBFFF0013L)
#define VI_ERROR_TMO            ((ViStatus)0xBFFF0015L)
#define VI_ERROR_CLOSING_FAILED ((ViStatus)0xBFFF0016L)
#define VI_ERROR_NSUP_ATTR      ((ViStatus)0xBFFF001DL)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001EL)
#define VI_ERROR_ATTR_READONLY  ((ViStatus)0xBFFF001FL)
#define VI_ERROR_ABORT          ((ViStatus)0xBFFF0030L)
#define VI_ERROR_ALLOC          ((ViStatus)0xBFFF003CL)
#define VI_ERROR_INV_MASK       ((ViStatus)0xBFFF003DL)
#define VI_ERROR_IO             ((ViStatus)0xBFFF003EL)
#define VI_ERROR_INV_FMT        ((ViStatus)0xBFFF003FL)
#define VI_ERROR_NSUP_FMT       ((ViStatus)0xBFFF0041L)
#define VI_ERROR_NSUP_MODE      ((ViStatus)0xBFFF0046L)
#define VI_ERROR_NSUP_OPER      ((ViStatus)0xBFFF0067L)
#define VI_ERROR_USER_BUF       ((ViStatus)0xBFFF0071L)
#define VI_ERROR_INV_PARAMETER  ((ViStatus)0xBFFF0078L)
#define VI_ERROR_INV_SIZE       ((ViStatus)0xBFFF007BL)
#define VI_ERROR_NIMPL_OPER     ((ViStatus)0xBFFF0081L)
#define VI_ERROR_INV_MODE       ((ViStatus)0xBFFF0091L)
#define VI_ERROR_SESN_NLOCKED   ((ViStatus)0xBFFF009CL)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009EL)
#define VI_ERROR_FILE_ACCESS    ((ViStatus)0xBFFF00A1L)
#define VI_ERROR_FILE_IO        ((ViStatus)0xBFFF00A2L)
#define VI_ERROR_CONN_LOST      ((ViStatus)0xBFFF00A6L)
#define VI_ERROR_MACHINE_NAVAIL ((ViStatus)0xBFFF00A7L)

/* Attributes */
#define VI_ATTR_RSRC_CLASS       0xBFFF0001UL
#define VI_ATTR_RSRC_NAME        0xBFFF0002UL
#define VI_ATTR_SEND_END_EN      0x3FFF0016UL
#define VI_ATTR_TERMCHAR         0x3FFF0018UL
#define VI_ATTR_TMO_VALUE        0x3FFF001AUL
#define VI_ATTR_RD_BUF_OPER_MODE 0x3FFF002AUL
#define VI_ATTR_RD_BUF_SIZE      0x3FFF002BUL
#define VI_ATTR_WR_BUF_OPER_MODE 0x3FFF002DUL
#define VI_ATTR_WR_BUF_SIZE      0x3FFF002EUL
#define VI_ATTR_SUPPRESS_END_EN  0x3FFF0036UL
#define VI_ATTR_TERMCHAR_EN      0x3FFF0038UL
#define VI_ATTR_INTF_TYPE        0x3FFF0171UL
#define VI_ATTR_INTF_NUM         0x3FFF0176UL
#define VI_ATTR_FILE_APPEND_EN   0x3FFF0192UL
#define VI_ATTR_TCPIP_ADDR       0xBFFF0195UL
#define VI_ATTR_TCPIP_HOSTNAME   0xBFFF0196UL
#define VI_ATTR_TCPIP_PORT       0x3FFF0197UL
#define VI_ATTR_TCPIP_DEVICE_NAME 0xBFFF0199UL
#define VI_ATTR_TCPIP_NODELAY    0x3FFF019AUL
#define VI_ATTR_TCPIP_KEEPALIVE  0x3FFF019BUL

/* Attribute values and modes */
#define VI_TMO_IMMEDIATE   0UL
#define VI_TMO_INFINITE    0xFFFFFFFFUL
#define VI_FLUSH_ON_ACCESS 1
#define VI_FLUSH_WHEN_FULL 2
#define VI_FLUSH_DISABLE   3
#define VI_INTF_GPIB       1
#define VI_INTF_TCPIP      6
#define VI_READ_BUF        1
#define VI_WRITE_BUF       2
#define VI_READ_BUF_DISCARD  4
#define VI_WRITE_BUF_DISCARD 8
#define VI_IO_IN_BUF       16
#define VI_IO_OUT_BUF      32
#define VI_IO_IN_BUF_DISCARD  64
#define VI_IO_OUT_BUF_DISCARD 128
#define VI_FIND_BUFLEN     256
#define VI_NO_LOCK         0
#define VI_EXCLUSIVE_LOCK  1
#define VI_SHARED_LOCK     2
#define VI_LOAD_CONFIG     4
#define VI_GPIB_REN_DEASSERT        0
#define VI_GPIB_REN_ASSERT          1
#define VI_GPIB_REN_DEASSERT_GTL    2
#define VI_GPIB_REN_ASSERT_ADDRESS  3
#define VI_GPIB_REN_ASSERT_LLO      4
#define VI_GPIB_REN_ASSERT_ADDRESS_LLO 5
#define VI_GPIB_REN_ADDRESS_GTL     6
