// Root of the exception tree of both programs. Every exception carries a
// message and a dotted category naming the component that raised it; what()
// joins the two as category[message].
#pragma once

#include <exception>
#include <string>

namespace tessel {

class exception : public std::exception
{
public:
    explicit exception(const std::string& message);
    // printf-style (Microsoft runtime conversions), formatted with tessel::format.
    explicit exception(const char* format, ...) __attribute__((format(ms_printf, 2, 3)));

    // category[message]; never throws.
    const char* what() const noexcept override;
    virtual std::string message() const;
    virtual std::string category() const;

protected:
    // Adds "." if the category is not empty, then the component.
    void append_category(const char* component);

    // Mutable: the wide twin fills the narrow text lazily from const accessors.
    mutable std::string what_buffer_;
    mutable std::string message_;
    mutable std::string category_;
};

// Wide twin for messages built from paths, keys and other wide text. The narrow
// forms are converted once, with the ANSI code page, substituting characters
// that the code page lacks.
class exception_w : public exception
{
public:
    explicit exception_w(const std::wstring& message);
    // printf-style, Microsoft runtime semantics: %s is a wide string, %S narrow.
    explicit exception_w(const wchar_t* format, ...);

    const char* what() const noexcept override;
    std::string message() const override;
    std::string category() const override;

    // category[message] in wide text; never throws.
    virtual const wchar_t* what_w() const;
    virtual std::wstring message_w() const;
    virtual std::wstring category_w() const;

private:
    void fill_narrow() const;

    mutable std::wstring what_buffer_w_;
    std::wstring message_w_;
    std::wstring category_w_;
    mutable bool narrow_ready_ = false;
};

} // namespace tessel
