// An HRESULT raised as an exception by code that cannot return one (a constructor, a setter deep in a page
// edit, a step inside a settings load); caught at the edge of the operation that called it (the settings
// load, or at the latest the module's entry point, which logs the HRESULT).
#pragma once

#include "platform/WinTypes.h"

#include <exception>

class CHResultException : public std::exception {
public:
    explicit CHResultException(HRESULT hr) : m_hr(hr) {}
    HRESULT Error() const noexcept { return m_hr; }
    const char* what() const noexcept override { return "HRESULT failure"; }

private:
    HRESULT m_hr;
};
