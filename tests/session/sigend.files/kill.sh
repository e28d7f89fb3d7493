# Sends signal $SIG (TERM by default) to process $1 once the file "go" is
# gone: the program deletes it inside a loop that never ends, so the signal
# comes while the loop runs, after every line was read and echoed.
n=0
while [ -e go ] && [ $n -lt 3000 ]; do sleep 0.02; n=$((n + 1)); done
kill -"${SIG:-TERM}" "$1"
