# Wine UI tests (native side): to come.
