; The KERNAL routines the hooks call, as the tests on sim65 see them: the messages
; print nothing (each call is counted, so a test can see which came), the errors
; return as the KERNAL's do (carry set, A the error number).

        .export k_searching, k_loading, k_saving
        .export k_err_notfound, k_err_nodevice, k_err_noname, k_err_notoutput
        .export _k_calls

        .bss
_k_calls:       .res 3          ; SEARCHING FOR, LOADING, SAVING

        .code
k_searching:
        inc _k_calls
        rts
k_loading:
        inc _k_calls + 1
        rts
k_saving:
        inc _k_calls + 2
        rts
k_err_notfound:
        lda #4
        sec
        rts
k_err_nodevice:
        lda #5
        sec
        rts
k_err_notoutput:
        lda #7
        sec
        rts
k_err_noname:
        lda #8
        sec
        rts
