#pragma once

#include <QString>
#include <exception>
#include <string>

// The program's one error type: it carries the whole sentence shown to the user.
struct Fail : std::exception {
    explicit Fail(QString sentence)
        : errorDescription(std::move(sentence)), utf8(errorDescription.toStdString())
    {
    }

    const char* what() const noexcept override { return utf8.c_str(); }

    QString errorDescription;

private:
    std::string utf8;
};
