' Drives Tellvane.Signer32 through the script host's other engine, as pages
' written in VBScript did: created by ProgID, called by name.
'
'   cscript //nologo signer32.vbs <ProgID> <thumbprint> <digest> <text>
'
' Lists the certificates and signs the text and the digest with the
' certificate of the thumbprint, printing each sign tuple as "TUPLE <name>
' <Base64>". (The text comes as an argument: Wine's engine has no ChrW, and
' a script file is read in the ANSI code page.) Prints a line per failed
' check and a last line with the counts; the exit code is the number of
' failures. (A script error ends the script silently, without that line.)
Option Explicit
Dim checks, failures
checks = 0
failures = 0

Sub Check(ok, what)
  checks = checks + 1
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

' The text of a success envelope's result, or "" after a failed check.
Function Result(envelope, shape, what)
  Dim pattern, found
  Set pattern = New RegExp
  pattern.Pattern = "^\{""success"":true,""result"":" & shape & "\}$"
  Set found = pattern.Execute(envelope)
  Check found.Count = 1, what & ": " & envelope
  Result = ""
  If found.Count = 1 Then Result = found(0).SubMatches(0)
End Function

Sub PrintTuple(name, envelope)
  Dim tuple
  tuple = Result(envelope, """([A-Za-z0-9+/]+=*)""", name)
  If tuple <> "" Then WScript.Echo "TUPLE vbs-" & name & " " & tuple
End Sub

Dim signer, thumbprint
Set signer = CreateObject(WScript.Arguments(0))
thumbprint = WScript.Arguments(1)
Call Result(signer.getCertListAsJson(""), "(\[\{""Thumbprint"":.*\}\])", "getCertListAsJson")
Call PrintTuple("text", signer.signString(WScript.Arguments(3), thumbprint, ""))
Call PrintTuple("digest", signer.signHash(WScript.Arguments(2), thumbprint, "1234"))
WScript.Echo "signer32.vbs: " & checks & " checks, " & failures & " failures"
WScript.Quit failures
