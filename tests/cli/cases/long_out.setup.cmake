string(REPEAT "o" 1100 LONG)
