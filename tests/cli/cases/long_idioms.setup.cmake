string(REPEAT "i" 62 LIST)
