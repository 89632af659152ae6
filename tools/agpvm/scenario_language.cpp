// The scenario language. A scenario is a text file, one step a line; `#`
// starts a comment; arguments are words or "quoted strings" with the
// escapes \n \t \\ \" \xHH. A CONTROL is a control ID (decimal or 0x..)
// or the control's text in quotes ("Set Mode").
//
//   wait-dialog                     the program's main dialog is shown (a message
//                                   box on the way fails the step)
//   show-dialog                     the same, printing and dismissing message boxes
//   expect-message CAPTION TEXT     a message box of the program: caption, text to
//                                   the byte, owned by the main dialog, a single OK
//                                   button, no icon; then dismissed with OK
//   click CONTROL                   clicks a button of the program's active dialog
//   key enter|esc|tab|f1            a key press for the window with the focus
//   expect-text CONTROL TEXT        a control's text in the main dialog
//   expect-check CONTROL checked|unchecked
//   expect-focus CONTROL            the keyboard focus is on that control
//   expect-about-entry ID TEXT      the system menu ends with a separator and item ID TEXT
//   syscommand ID                   WM_SYSCOMMAND with ID to the main dialog
//   close                           the close box (SC_CLOSE)
//   minimize | restore              minimise or restore the main dialog, checked
//   expect-about CAPTION TEXT...    a box owned by the disabled main dialog with that
//                                   caption, these static texts, an icon and OK
//   expect-no-window CAPTION        no window of the program with that caption (any
//                                   such window must go away within the bound)
//   expect-writes LOC REG VALUE ... exactly these configuration writes since the last
//                                   write check, in this order (LOC is BB:DD.F)
//   expect-no-writes                no configuration write since the last check
//   expect-reads N                  N configuration reads since the last mark or
//                                   expect-reads (or the start)
//   expect-help FILE                F1 reached the help engine: Wine's viewer reports
//                                   FILE missing next to the program; answered, ended
//   expect-exit [CODE]              the program ends (with CODE)
//   mark NAME                       counts accesses up to here as phase NAME
//   print-text CONTROL [LABEL]      prints the control's text, as "LABEL: TEXT" with a
//                                   label ("(empty)" for none); without a label
//                                   nothing when it is empty
//   dismiss-messages                let the program finish, printing and dismissing
//                                   the message boxes it shows meanwhile
//   print-writes                    prints the configuration writes since the last
//                                   write check, decoded in lspci's words, and takes
//                                   them as expected
//   print TEXT                      prints TEXT as a line
//   print-link WHEN                 prints the verdict on the AGP link as lumbrel's
//                                   start-up would find it now ("AGP link WHEN: ...")
//   signal FILE / wait-file FILE    create a file / wait until a file exists
//
// Checks first wait until the program has handled the earlier steps (or
// waits in a modal box). Every wait is bounded by the step bound (15 s,
// --step-timeout) and the run's deadline.
// Configuration writes that no expect-writes step consumed fail the run.
#include "scenario.h"

#include "scenario_text.h"

namespace {

struct StepSpec {
    const char* name;
    unsigned minArgs, maxArgs;
};

const StepSpec kSteps[] = {
    {"wait-dialog", 0, 0},
    {"show-dialog", 0, 0},
    {"expect-message", 2, 2},
    {"click", 1, 1},
    {"key", 1, 1},
    {"expect-text", 2, 2},
    {"expect-check", 2, 2},
    {"expect-focus", 1, 1},
    {"expect-about-entry", 2, 2},
    {"syscommand", 1, 1},
    {"close", 0, 0},
    {"minimize", 0, 0},
    {"restore", 0, 0},
    {"expect-about", 2, 16},
    {"expect-no-window", 1, 1},
    {"expect-writes", 3, 96},
    {"expect-no-writes", 0, 0},
    {"expect-help", 1, 1},
    {"expect-exit", 0, 1},
    {"expect-reads", 1, 1},
    {"mark", 1, 1},
    {"print-text", 1, 2},
    {"signal", 1, 1},
    {"wait-file", 1, 1},
    {"dismiss-messages", 0, 0},
    {"print-writes", 0, 0},
    {"print", 1, 1},
    {"print-link", 1, 1},
};

// Splits a line into words and quoted strings.
bool Tokenize(const std::string& line, std::vector<std::string>& tokens, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string token;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\') {
                    if (i >= line.size()) break;
                    const char e = line[i++];
                    switch (e) {
                    case 'n': d = '\n'; break;
                    case 't': d = '\t'; break;
                    case 'r': d = '\r'; break;
                    case '\\': d = '\\'; break;
                    case '"': d = '"'; break;
                    case 'x': {
                        unsigned long v;
                        if (i + 2 > line.size() || !ParseNumber(line.substr(i, 2), v, 16)) {
                            error = "bad \\x escape";
                            return false;
                        }
                        d = static_cast<char>(v);
                        i += 2;
                        break;
                    }
                    default:
                        error = std::string("unknown escape \\") + e;
                        return false;
                    }
                }
                token += d;
            }
            if (!closed) {
                error = "unterminated string";
                return false;
            }
            tokens.push_back("\"" + token);  // a leading quote marks a string
        } else {
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            tokens.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    return true;
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& source, Scenario& scenario,
                   std::string& error)
{
    scenario.source = source;
    scenario.steps.clear();
    unsigned lineNumber = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        std::vector<std::string> tokens;
        std::string what;
        auto fail = [&](const std::string& message) {
            error = source + ":" + std::to_string(lineNumber) + ": " + message;
            return false;
        };
        if (!Tokenize(line, tokens, what)) return fail(what);
        if (tokens.empty()) continue;
        const StepSpec* spec = nullptr;
        for (const StepSpec& s : kSteps)
            if (tokens[0] == s.name) spec = &s;
        if (!spec) return fail("unknown step " + tokens[0]);
        ScenarioStep step;
        step.line = lineNumber;
        step.command = tokens[0];
        step.args.assign(tokens.begin() + 1, tokens.end());
        const size_t n = step.args.size();
        if (n < spec->minArgs || n > spec->maxArgs)
            return fail(step.command + ": wrong number of arguments");
        const std::string& c = step.command;
        unsigned long number;
        auto isControl = [&](const std::string& a) { return IsString(a) || ParseNumber(a, number); };
        if ((c == "click" || c == "expect-text" || c == "expect-check" || c == "expect-focus" ||
             c == "print-text") &&
            !isControl(step.args[0]))
            return fail(c + ": a control is an ID or a \"text\"");
        if (c == "expect-check" && step.args[1] != "checked" && step.args[1] != "unchecked")
            return fail("expect-check: checked or unchecked");
        if (c == "key" && step.args[0] != "enter" && step.args[0] != "esc" &&
            step.args[0] != "tab" && step.args[0] != "f1")
            return fail("key: enter, esc, tab or f1");
        if ((c == "syscommand" || c == "expect-about-entry") &&
            (IsString(step.args[0]) || !ParseNumber(step.args[0], number) || number > 0xFFFF))
            return fail(c + ": a command ID");
        if ((c == "expect-message" || c == "expect-text") && !IsString(step.args.back()))
            return fail(c + ": the text goes in quotes");
        if (c == "expect-reads" && (IsString(step.args[0]) || !ParseNumber(step.args[0], number)))
            return fail("expect-reads: a number of reads");
        if (c == "expect-exit" && n == 1 && !ParseNumber(step.args[0], number))
            return fail("expect-exit: an exit code");
        if (c == "expect-writes") {
            if (n % 3 != 0) return fail("expect-writes: LOCATION REGISTER VALUE, repeated");
            for (size_t i = 0; i < n; i += 3) {
                unsigned b, d, f;
                unsigned long reg, value;
                if (!ParseLocation(step.args[i], b, d, f))
                    return fail("expect-writes: location BB:DD.F, got " + step.args[i]);
                if (!ParseNumber(step.args[i + 1], reg, 16) || reg > 0xFF || (reg & 3))
                    return fail("expect-writes: register as two hex digits, dword aligned");
                if (step.args[i + 2].size() != 8 || !ParseNumber(step.args[i + 2], value, 16))
                    return fail("expect-writes: value as eight hex digits");
            }
        }
        scenario.steps.push_back(step);
    }
    if (scenario.steps.empty()) {
        error = source + ": no steps";
        return false;
    }
    return true;
}
