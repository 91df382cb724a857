#include "app/UpdaterCommandLineInfo.h"

void CUpdaterCommandLineInfo::ParseParam(const char* param, BOOL isFlag, BOOL isLast) {
    if (isFlag) {
        m_mapOptions.SetAt(param, "TRUE");
        m_strLastOption = param;
    } else if (!m_strLastOption.IsEmpty()) {
        m_mapOptions.SetAt(m_strLastOption, param);
        m_strLastOption.Empty();
    }
    CCommandLineInfo::ParseParam(param, isFlag, isLast);
}
