#pragma once
#include "framework/cmdline.h"

// Records every switch with its value ("TRUE" when none follows). Nothing in the program consults the
// result: any command line gives the same update run.
class CUpdaterCommandLineInfo : public CCommandLineInfo {
public:
    void ParseParam(const char* param, BOOL isFlag, BOOL isLast) override;

    CMapStringToString m_mapOptions{10};
    CString m_strLastOption;
};
