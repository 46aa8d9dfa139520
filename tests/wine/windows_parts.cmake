# Wine UI test programs (Windows side): to come.
