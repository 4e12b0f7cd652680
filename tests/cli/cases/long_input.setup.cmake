string(REPEAT "d/" 520 LONG)
string(APPEND LONG "x.car")
