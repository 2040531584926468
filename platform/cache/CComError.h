// The error a cache component raises instead of returning a result: the failing HRESULT and the component's
// description of it. Callers of the component catch it at the edge of each operation; it never leaves one.
#pragma once

#include "platform/WinTypes.h"

#include <exception>
#include <string>
#include <utility>

class CComError : public std::exception {
public:
    CComError(HRESULT hr, std::string csDescription) : m_hr(hr), m_csDescription(std::move(csDescription)) {}

    HRESULT Error() const noexcept { return m_hr; }
    // Never null; empty when the component gave no description.
    const char* Description() const noexcept { return m_csDescription.c_str(); }
    const char* what() const noexcept override { return m_csDescription.c_str(); }

private:
    HRESULT m_hr;
    std::string m_csDescription;
};
