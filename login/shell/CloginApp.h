#pragma once

// The broadcaster's application object: one copy at a time, the skinned message routing, and the
// login window as the program's main, modal window.
class CloginApp {
public:
    // How many running processes are called `name` exactly (this one included).
    static int CountProcesses(const char* name);
    // The program: 0 in every ordinary end (a second copy included).
    int Run(int argc, char** argv);
};
