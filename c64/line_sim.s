; The line of the simulator build: standard input and output of sim65, through
; the C library's read and write (the simulator's host calls). The end of input
; or a write that fails is the line gone: the server did not answer. RUN/STOP is
; played by _sim_stop_at: when not 0, the key is down from that block on.

        .include "protocol.inc"

        .export line_get, line_put, line_drain, line_stop, line_open, line_close
        .export _sim_stop_at
        .import dv_linefail
        .import _read, _write, pushax

        .bss
byte:           .res 1
save_a:         .res 1
save_x:         .res 1
save_y:         .res 1
_sim_stop_at:   .res 1

        .code

; A = the next byte; X and Y kept.
line_get:
        stx save_x
        sty save_y
        lda #0                  ; read(0, &byte, 1)
        tax
        jsr pushax
        lda #<byte
        ldx #>byte
        jsr pushax
        lda #1
        ldx #0
        jsr _read
        cmp #1
        bne gone
        cpx #0
        bne gone
        ldx save_x
        ldy save_y
        lda byte
        rts

; Writes A; A, X and Y kept.
line_put:
        sta byte
        sta save_a
        stx save_x
        sty save_y
        lda #1                  ; write(1, &byte, 1)
        ldx #0
        jsr pushax
        lda #<byte
        ldx #>byte
        jsr pushax
        lda #1
        ldx #0
        jsr _write
        cmp #1
        bne gone
        cpx #0
        bne gone
        ldx save_x
        ldy save_y
        lda save_a
        rts

gone:
        lda #line_timeout
        jmp dv_linefail

; A pipe has no quiet to wait for: a read would block. Nothing is dropped.
line_drain:
line_open:
line_close:
        rts

; Carry set when RUN/STOP is down. Asked once a block.
line_stop:
        lda _sim_stop_at
        beq @up
        cmp #1
        beq @down
        dec _sim_stop_at
@up:
        clc
        rts
@down:
        sec
        rts
