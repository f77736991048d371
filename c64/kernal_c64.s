; The C64 KERNAL routines the hooks call, at their places in the ROM.

        .export k_searching     := $F5AF  ; "SEARCHING FOR " and the name (direct mode)
        .export k_loading       := $F5D2  ; "LOADING" or "VERIFYING" (direct mode)
        .export k_saving        := $F68F  ; "SAVING " and the name (direct mode)
        .export k_err_notfound  := $F704  ; error 4: ?FILE NOT FOUND
        .export k_err_nodevice  := $F707  ; error 5: ?DEVICE NOT PRESENT
        .export k_err_notoutput := $F70D  ; error 7: ?NOT OUTPUT FILE
        .export k_err_noname    := $F710  ; error 8: ?MISSING FILE NAME
