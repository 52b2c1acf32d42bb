// The field type names of the row record, exported so that callers fill
// records with the very words the queued transfer recognises.
#include "TesselWrapper/ConnectWrapper.h"

const char* const ConnectWrapper::m_lpszDOUBLE = "Double";
const char* const ConnectWrapper::m_lpszLONGINTEGER = "LongInteger";
const char* const ConnectWrapper::m_lpszSHORTINTEGER = "ShortInteger";
const char* const ConnectWrapper::m_lpszDATE = "Date";
const char* const ConnectWrapper::m_lpszDATETIME = "DateTime";
const char* const ConnectWrapper::m_lpszTEXT = "Text";
const char* const ConnectWrapper::m_lpszMEMO = "Memo";
