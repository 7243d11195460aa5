#pragma once
// The update self-test (--selftest-update=<vectors file>): runs the manifest
// rules, the signature check, the host list and the release key against a
// vectors file; `report` gets one PASS or FAIL line per case.
#include <string>

bool SelfTestUpdate(const std::string& vectorsPath, std::string& report);
