; The VELDRIX installer (scripts/package.sh builds it with makensis). A 32-bit
; installer runs on every Windows: it puts the 64-bit build on 64-bit Windows
; and the 32-bit build elsewhere, with the chip list and the sample file, and
; writes the installation folder as `setup` under the program key, where the
; program looks for its chip list. The settings (HKCU) and the production
; records are the user's: neither an upgrade nor the uninstaller touches them,
; nor any other value of the program key.
;
; Defines from package.sh: VERSION (3.10), FILE_VERSION (3.10.0.0), OUTFILE,
; WIN64 and WIN32 (the two Windows builds), RESOURCES; TARGET_AMD64 builds the
; same installer as a 64-bit program, for tests on a machine that runs no
; 32-bit programs.

Unicode true
!ifdef TARGET_AMD64
    Target amd64-unicode
    ; Always 64-bit there: the branches for 32-bit Windows go unused.
    !pragma warning disable 6012
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "x64.nsh"

!define PRODUCT "VELDRIX"
!define PROGRAM_KEY "Software\ZEMKO\VELDRIX"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VELDRIX"
!define DESCRIPTION "VELDRIX S3C/S3F 批量编程器控制程序"

Name "${PRODUCT} V${VERSION}"
Caption "${PRODUCT} V${VERSION} 安装"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\ZEMKO\VELDRIX"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "CompanyName" "ZEMKO"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) ZEMKO"

LoadLanguageFile "${NSISDIR}/Contrib/Language files/SimpChinese.nlf"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The registry and folders of the build that fits this Windows.
!macro ChooseView
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    SetShellVarContext all
!macroend

Function .onInit
    !insertmacro ChooseView
    ; A folder given with /D stays; otherwise an upgrade goes where the
    ; installed program is, a first installation into the Program Files of
    ; the build it installs.
    ${If} $INSTDIR == "$PROGRAMFILES\ZEMKO\VELDRIX"
        ReadRegStr $0 HKLM "${PROGRAM_KEY}" "setup"
        ${If} $0 != ""
            StrCpy $INSTDIR $0
        ${ElseIf} ${RunningX64}
            StrCpy $INSTDIR "$PROGRAMFILES64\ZEMKO\VELDRIX"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro ChooseView
FunctionEnd

Section "VELDRIX"
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "/oname=veldrix.exe" "${WIN64}/veldrix.exe"
        File "/oname=veldrix-cli.exe" "${WIN64}/veldrix-cli.exe"
    ${Else}
        File "/oname=veldrix.exe" "${WIN32}/veldrix.exe"
        File "/oname=veldrix-cli.exe" "${WIN32}/veldrix-cli.exe"
    ${EndIf}
    File "${RESOURCES}/samlist.txt"
    File "${RESOURCES}/sample.hex"

    WriteRegStr HKLM "${PROGRAM_KEY}" "setup" "$INSTDIR"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DESCRIPTION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "ZEMKO"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veldrix.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    CreateDirectory "$SMPROGRAMS\VELDRIX"
    CreateShortcut "$SMPROGRAMS\VELDRIX\VELDRIX.lnk" "$INSTDIR\veldrix.exe"
    CreateShortcut "$SMPROGRAMS\VELDRIX\卸载 VELDRIX.lnk" "$INSTDIR\uninstall.exe"
    CreateShortcut "$DESKTOP\VELDRIX.lnk" "$INSTDIR\veldrix.exe"
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\veldrix.exe"
    Delete "$INSTDIR\veldrix-cli.exe"
    Delete "$INSTDIR\samlist.txt"
    Delete "$INSTDIR\sample.hex"
    Delete "$INSTDIR\uninstall.exe"
    ; Whatever the user put there stays, and the folder with it.
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\VELDRIX\VELDRIX.lnk"
    Delete "$SMPROGRAMS\VELDRIX\卸载 VELDRIX.lnk"
    RMDir "$SMPROGRAMS\VELDRIX"
    Delete "$DESKTOP\VELDRIX.lnk"

    DeleteRegValue HKLM "${PROGRAM_KEY}" "setup"
    DeleteRegKey /ifempty HKLM "${PROGRAM_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
