#pragma once
// The install statistics report: the adapter address from NetBIOS, one GET whose answer is never read.
#include "framework/cstring.h"

extern const char kPartnerCode[];  // "R000046"
extern const char kStatsAgent[];   // "Darodoro"
extern const char kStatsObject[];  // "/member/stats.asp"

// The text of the last adapter that answered an adapter-status command; empty when none did.
CString AdapterText();

// 87 when any text is empty (nothing sent); 1 when the request was sent, 0 when it could not be.
int SendStatsRequest(const CString& host, const CString& object, const CString& body);
