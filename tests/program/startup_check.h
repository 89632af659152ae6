// Shared by the two files of startup_check.
#ifndef LUMBREL_TESTS_PROGRAM_STARTUP_CHECK_H
#define LUMBREL_TESTS_PROGRAM_STARTUP_CHECK_H

// Writes a and b as one line to standard output.
void Say(const char* a, const char* b = "");

// Says when it is constructed and destroyed.
struct Traced {
    explicit Traced(const char* name);
    ~Traced();

    const char* m_name;
    void (*m_onDestroy)();  // called after its destruction is said
};

#endif
