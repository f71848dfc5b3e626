# Writes the man page of vantrel from its own --help texts: cmake -DVANTREL=EXE -DVERSION=V -DOUT=FILE -P manpage.cmake
# (FILE.gz is what the package installs).
set(asCommands conf formula modules check dump render bench play regress)

# One help text as roff: no filling, backslashes escaped, a leading dot or quote defused, and
# the executable's build path replaced by its name.
function(help_text sOut)
  execute_process(COMMAND ${VANTREL} ${ARGN} --help OUTPUT_VARIABLE sHelp RESULT_VARIABLE iResult)
  if(NOT iResult EQUAL 0)
    message(FATAL_ERROR "${VANTREL} ${ARGN} --help failed: ${iResult}")
  endif()
  string(REPLACE "${VANTREL}" "vantrel" sHelp "${sHelp}")
  string(REPLACE "\\" "\\e" sHelp "${sHelp}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" sHelp "${sHelp}")
  set(${sOut} ".nf\n${sHelp}.fi\n" PARENT_SCOPE)
endfunction()

help_text(sMain)
set(sPage ".TH VANTREL 1 \"\" \"vantrel ${VERSION}\" \"User Commands\"
.SH NAME
vantrel \\- a real-time software synthesizer programmed in a text patch language
.SH SYNOPSIS
.B vantrel
.I SUBCOMMAND
[\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]
.br
.B vantrel
.I SUBCOMMAND
.B --help
.SH DESCRIPTION
${sMain}")
string(APPEND sPage ".SH COMMANDS\n")
foreach(sCommand IN LISTS asCommands)
  help_text(sHelp ${sCommand})
  string(APPEND sPage ".SS ${sCommand}\n${sHelp}")
endforeach()
string(APPEND sPage ".SH FILES
The installation folder is the folder two levels above the executable
(\\fI/opt/vantrel\\fR for the package; every command takes \\fB--install\\fR \\fIDIR\\fR):
\\fIconfig/Interpreter.vantrel\\fR (engine settings), \\fIconfig/InputAction.ini\\fR,
\\fIpatch/\\fR (Default.vantrel and the collections), \\fIpackage/\\fR, \\fItemplate/\\fR,
\\fIworkspace/\\fR, \\fIregressions/\\fR.
.PP
An installation the user cannot write keeps the user's files in the XDG folders:
logs in \\fI$XDG_STATE_HOME/vantrel/log\\fR (\\fI~/.local/state\\fR);
system-exclusive dumps, workspaces, templates, the user's patches, the edit history and regression
results in \\fI$XDG_DATA_HOME/vantrel/\\fR (\\fI~/.local/share\\fR) under \\fIsysex\\fR,
\\fIworkspace\\fR, \\fItemplate\\fR, \\fIpatch/user\\fR, \\fIpatch/edit_history\\fR and
\\fIregressions\\fR; and the user's own \\fIInterpreter.vantrel\\fR and \\fIInputAction.ini\\fR in
\\fI$XDG_CONFIG_HOME/vantrel/\\fR (\\fI~/.config\\fR), read before the installed ones.
A writable installation (a build tree, a portable copy) keeps everything inside itself.
.SH ENVIRONMENT
.TP
.B KSStatus
the developer log's actions: a preset (debugging, production, utility) or a specification such as
W=L;E=LA; the log is written to a time-stamped file in the log folder.
.SH SEE ALSO
The desktop application: \\fBvantrel-ide --help\\fR.
")
file(WRITE ${OUT} "${sPage}")
execute_process(COMMAND gzip -9nf ${OUT} RESULT_VARIABLE iResult)
if(NOT iResult EQUAL 0)
  message(FATAL_ERROR "gzip ${OUT} failed")
endif()
