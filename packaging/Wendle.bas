Attribute VB_Name = "Wendle"
' The functions of Wendlev14.EXE for VBA (32-bit and 64-bit Office) and VB6.
'
' The caller's bitness picks the EXE: 32-bit Office and VB6 load the
' Wendlev14.EXE at the top of the archive, 64-bit Office the one in its x64
' folder. Both have the same name and the same functions, so this module is
' the same for both. Windows must find the right one when the first function
' is called: put its folder on the PATH, write its full path into the Lib
' clauses below, or ChDir to its folder first.
'
' Strings go by reference only. VB frees its own copy of a ByVal String after
' the call, so SER_SEND_BV and SER_RAWSEND_BV, which free the string they are
' given, would free it twice: they are not declared here, and VB must not
' call them. Call SER_CLOSE before calling SER_OPEN again.
Option Explicit

' The numbers are 32-bit (Long) in both bitnesses; only the string arguments
' are pointers, and VB passes those itself. Office 2010 and later (VBA7, 32-
' and 64-bit) want PtrSafe; older Office and VB6 do not know the word.
#If VBA7 Then

' Opens COM<PortNumber> (1 to 99) at BaudRate (1200, 2400, 4800, 9600, 19200
' or 38400) with 8 data bits, no parity, one stop bit. 1 when open, else 0.
Public Declare PtrSafe Function SER_OPEN Lib "Wendlev14.EXE" (ByVal PortNumber As Long, ByVal BaudRate As Long) As Long

' Closes the port of the last SER_OPEN. Always 1.
Public Declare PtrSafe Function SER_CLOSE Lib "Wendlev14.EXE" () As Long

' Translates the tokens in Message (<13>, <254,1>, <CLS>) into their bytes
' and writes them; Message afterwards holds the translation.
Public Declare PtrSafe Sub SER_SEND Lib "Wendlev14.EXE" (ByRef Message As String)

' Writes Message as it is; Message is not changed.
Public Declare PtrSafe Sub SER_RAWSEND Lib "Wendlev14.EXE" (ByRef Message As String)

' The version text: "v1.3, 22 Oct 2012, " and the maker's web address.
Public Declare PtrSafe Function SER_VERSINFO Lib "Wendlev14.EXE" () As String

#Else

' The same five, for Office 2007 and earlier (32-bit only) and VB6.
Public Declare Function SER_OPEN Lib "Wendlev14.EXE" (ByVal PortNumber As Long, ByVal BaudRate As Long) As Long
Public Declare Function SER_CLOSE Lib "Wendlev14.EXE" () As Long
Public Declare Sub SER_SEND Lib "Wendlev14.EXE" (ByRef Message As String)
Public Declare Sub SER_RAWSEND Lib "Wendlev14.EXE" (ByRef Message As String)
Public Declare Function SER_VERSINFO Lib "Wendlev14.EXE" () As String

#End If

' An example: clears the display on COM1 and writes a greeting on it. Run it
' with F5 or from the list of macros; change PortNumber to your port.
Public Sub WendleHello()
    Const PortNumber As Long = 1
    Dim Message As String

    If SER_OPEN(PortNumber, 9600) <> 1 Then
        MsgBox "COM" & PortNumber & " could not be opened at 9600 baud: is the port " & _
               "there, and not in use by another program?", vbExclamation, "Wendle"
        Exit Sub
    End If
    Message = "<CLS>Hello from<KTA_LINE2>Wendle"
    SER_SEND Message
    SER_CLOSE
End Sub
