// The product library's application interface, as the product's own programs
// and the remover call it: create_application() (exported undecorated,
// __cdecl, no arguments) returns the application object; its first virtual
// operation returns the command-line handler or null; the handler's first
// virtual operation takes a command line such as L"QELVA /quietus" and
// answers whether it carried it out. Both objects belong to the library.
#pragma once

namespace qelva {

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

}  // namespace qelva

extern "C" qelva::application* __cdecl create_application(void);
typedef qelva::application*(__cdecl* create_application_fn)(void);
