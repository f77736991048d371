; The C64 KERNAL and BASIC routines the hooks and the wedge call, at their places
; in the ROM.

        .export k_searching     := $F5AF  ; "SEARCHING FOR " and the name (direct mode)
        .export k_loading       := $F5D2  ; "LOADING" or "VERIFYING" (direct mode)
        .export k_saving        := $F68F  ; "SAVING " and the name (direct mode)
        .export k_err_notfound  := $F704  ; error 4: ?FILE NOT FOUND
        .export k_err_nodevice  := $F707  ; error 5: ?DEVICE NOT PRESENT
        .export k_err_notoutput := $F70D  ; error 7: ?NOT OUTPUT FILE
        .export k_err_noname    := $F710  ; error 8: ?MISSING FILE NAME
        .export k_chrout        := $FFD2  ; prints A
        .export k_inlin         := $A560  ; BASIC: reads a line into $0200
        .export k_newstt        := $A48A  ; BASIC's main loop after the line was read
        .export k_ready         := $A474  ; BASIC: "READY." and its main loop
        .export k_linprt        := $BDCD  ; BASIC: prints the number X (low) / A (high)
        .export k_buffer        := $0200  ; BASIC's input buffer
