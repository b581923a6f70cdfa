' A VBScript client of both automation servers, run by cscript under Wine
' (or Windows) after regsvr32. Variables passed to Compile and Calculate go
' by reference, so the position and message come back. cscript exits 0
' even when a script fails, so the script counts its own checks, prints
' "N passed, N failed" and quits with the number of failures.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(name, actual, expected)
    If VarType(actual) = VarType(expected) And actual = expected Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL " & name & ": got [" & actual & "] (" & TypeName(actual) & "), want [" & expected & "] (" & TypeName(expected) & ")"
    End If
End Sub

' The two servers differ in the kind of an integer result (Calquor_Auto
' keeps integers where its runtime library does) and in how a function
' error leaves Calculate.
Sub Run(progId, successMessage, fourteen, raises)
    Dim f, pos, msg, result
    On Error Resume Next
    Set f = CreateObject(progId)
    If Err.Number <> 0 Then
        failed = failed + 1
        WScript.Echo "FAIL " & progId & ": cannot create (" & Err.Description & ")"
        Exit Sub
    End If
    On Error GoTo 0

    f.SetFormulaStr "2 * (3 + 4)"
    pos = -1
    msg = "unset"
    f.Compile pos, msg
    Check progId & " compile position", pos, CLng(Len("2 * (3 + 4)"))
    Check progId & " compile message", msg, "Succeed"
    pos = -1
    msg = "unset"
    result = f.Calculate(pos, msg)
    Check progId & " calculate code", pos, CLng(0)
    Check progId & " calculate value", result, fourteen
    Check progId & " calculate message", msg, successMessage

    ' A syntax error: the compiler's position and message.
    f.SetFormulaStr "1 + * 2"
    pos = -1
    msg = ""
    f.Compile pos, msg
    Check progId & " syntax error position", pos > 0, True
    Check progId & " syntax error message", Len(msg) > 0 And msg <> "Succeed", True

    ' A function error: Calquor_MFC reports a code and the function's
    ' message; Calquor_Auto lets the error leave the call as an exception
    ' with its description.
    f.SetFormulaStr "Mod(1, 0)"
    pos = -1
    msg = ""
    On Error Resume Next
    result = f.Calculate(pos, msg)
    Dim number, description
    number = Err.Number
    description = Err.Description
    On Error GoTo 0
    If raises Then
        Check progId & " function error raised", Hex(number), "80020009"
        Check progId & " function error description", Len(description) > 0, True
    Else
        Check progId & " function error not raised", number, CLng(0)
        Check progId & " function error code", pos <> 0, True
        Check progId & " function error message", Len(msg) > 0, True
    End If
End Sub

Run "Calquor.Calquom", "", CDbl(14), False
Run "Calquor.Formula", "", CLng(14), True
WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
