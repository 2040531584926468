// Raised by the page forms and the script paths when a page cannot be built; the raw-data handler catches it.
#pragma once

#include <exception>
#include <string>
#include <utility>

class CSWFormException : public std::exception {
public:
    explicit CSWFormException(std::string csMessage) : m_csMessage(std::move(csMessage)) {}
    const char* what() const noexcept override { return m_csMessage.c_str(); }
    const std::string& GetMessage() const { return m_csMessage; }

private:
    std::string m_csMessage;
};
