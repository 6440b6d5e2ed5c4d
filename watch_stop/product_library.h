// The installed product's own library ("<abbreviation>.dll" in its folder), as
// the product's programs and the remover call it: create_application()
// (exported undecorated, __cdecl, no arguments) returns the application
// object; its first virtual operation returns the command-line handler or
// null; the handler's first virtual operation takes a command line such as
// L"QELVA /quietus" and answers whether it carried it out. Both objects belong
// to the library.
#pragma once

namespace product_library {

class command_line_handler
{
public:
    virtual bool process_command_line(const wchar_t* command_line) = 0;

protected:
    ~command_line_handler() = default;
};

class application
{
public:
    virtual command_line_handler* get_command_line_handler() = 0;

protected:
    ~application() = default;
};

using create_application_fn = application*(__cdecl*)();

} // namespace product_library
