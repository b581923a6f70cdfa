// A JScript client of both automation servers, run by cscript under Wine
// (or Windows) after regsvr32. cscript exits 0 even when a script fails, so
// the script counts its own checks, prints "N passed, N failed" and quits
// with the number of failures.
var passed = 0, failed = 0;

function check(name, actual, expected) {
    if (actual === expected) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAIL " + name + ": got [" + actual + "] (" + typeof actual + "), want [" + expected + "]");
    }
}

function run(progId) {
    var f;
    try {
        f = new ActiveXObject(progId);
    } catch (e) {
        failed++;
        WScript.Echo("FAIL " + progId + ": cannot create (" + e.message + ")");
        return;
    }
    f.SetFormulaStr("Round(12.345 * 2, 2) + 1");
    check(progId + " formula text", f.GetFormulaStr(), "Round(12.345 * 2, 2) + 1");
    check(progId + " calculate", f.Calculate(0, ""), 25.69);

    f.SetFormulaStr("'ab' + UpperCase('cd')");
    check(progId + " text result", f.Calculate(0, ""), "abCD");

    f.SetFormulaStr("Max(3, 4) > 3 && Length('xyz') > 2");
    check(progId + " logic", f.Calculate(0, ""), true);

    // A syntax error: no value; the position and message go to the
    // by-reference arguments, which JScript cannot read (see clients.vbs).
    f.SetFormulaStr("1 + * 2");
    var value = f.Calculate(0, "");
    check(progId + " syntax error gives no number", typeof value === "number", false);
}

// An exception is a failure too, never a silent end of the script.
function guarded(progId) {
    try {
        run(progId);
    } catch (e) {
        failed++;
        WScript.Echo("FAIL " + progId + ": " + e.message);
    }
}

guarded("Calquor.Calquom");
guarded("Calquor.Formula");
WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
