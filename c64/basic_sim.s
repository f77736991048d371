; BASIC and the screen as the wedge's test on sim65 sees them: what the wedge
; prints lands in _screen, the typed line is in k_buffer, and BASIC's READY ends
; the wedge's call (_call_wedge) instead of running BASIC's main loop.

        .export k_chrout, k_inlin, k_newstt, k_ready, k_linprt, k_buffer
        .export _call_wedge, _screen, _screen_end, _basic_took, remove
        .export _k_buffer := k_buffer
        .import wedge_main, _sim_linprt

        .zeropage
_screen_end:    .res 2          ; where the next printed byte goes

        .bss
k_buffer:       .res 89         ; BASIC's input buffer
_screen:        .res 4096
_basic_took:    .res 1          ; the line went on to BASIC
wedge_sp:       .res 1
save_x:         .res 1
save_y:         .res 1

        .code
; void call_wedge(void): the line in k_buffer typed in direct mode.
_call_wedge:
        tsx
        stx wedge_sp
        jmp wedge_main

k_newstt:
        inc _basic_took
k_ready:
        ldx wedge_sp
        txs
        rts

k_inlin:
        ldx #<(k_buffer - 1)
        ldy #>(k_buffer - 1)
        rts

k_chrout:
        stx save_x
        sty save_y
        ldy #0
        sta (_screen_end),y
        inc _screen_end
        bne @kept
        inc _screen_end + 1
@kept:
        ldx save_x
        ldy save_y
        rts

; BASIC's A (high) / X (low) to the C side's unsigned in A (low) / X (high).
k_linprt:
        stx save_x
        tax
        lda save_x
        jmp _sim_linprt

; @q's removal gives the KERNAL's vectors back, which sim65 has not: the call is
; only seen.
remove:
        lda #'Q'
        jmp k_chrout
