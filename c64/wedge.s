; The "@" wedge: a direct-mode line that starts with "@" is ours, any other goes
; on to BASIC. It hooks BASIC's main loop vector ($0302) after the line was read.
;   @$          the listing on the screen; the BASIC program stays as it is
;   @#9         serve as device 9 (4 to 30)
;   @q          give the vectors back
;   @c:games    any other text: the server's disk command, and its outcome

        .include "protocol.inc"
        .include "c64.inc"

        .export wedge_main, print_text, print_device, print_device_number
        .import _dv_command, _dv_load, _dv_txbuf, _dv_txlen, _dv_rxbuf, _dv_rxlen
        .import _dv_sink, _dv_onopen, dv_device, remove
        .import k_chrout, k_inlin, k_newstt, k_ready, k_linprt, k_buffer

chrout  = k_chrout      ; KERNAL: prints A
inlin   = k_inlin       ; BASIC: reads a line into its buffer
newstt  = k_newstt      ; BASIC's main loop after the line was read
ready   = k_ready       ; BASIC: "READY." and the main loop
linprt  = k_linprt      ; BASIC: prints the number X (low) / A (high)
buffer  = k_buffer      ; BASIC's input buffer, $0200

        .bss
state:          .res 1          ; where the listing parser is in a line
link_lo:        .res 1

        .code

wedge_main:
        jsr inlin
        stx ktxtptr
        sty ktxtptr + 1
        lda buffer
        cmp #'@'
        beq @mine
        jmp newstt
@mine:
        lda buffer + 1
        cmp #'$'
        bne @not_listing
        jmp listing
@not_listing:
        cmp #'#'
        beq device
        cmp #'Q'
        bne command
        lda buffer + 2
        bne command
        jsr remove
        jmp ready

; @#n: a new device number.
device:
        ldx #2
        lda #0
@digit:
        ldy buffer,x
        beq @done
        cpy #'0'
        bcc @bad
        cpy #'9' + 1
        bcs @bad
        clc
        sta link_lo             ; times ten: 8a + 2a
        asl a
        asl a
        asl a
        adc link_lo
        adc link_lo
        sta link_lo
        tya
        and #$0F
        adc link_lo
        inx
        bne @digit
@done:
        cmp #4
        bcc @bad
        cmp #31
        bcs @bad
        sta dv_device
        jsr print_device
        jmp ready
@bad:
        ldx #msg_syntax
        jsr print_text
        jmp ready

; @text: the disk command. A letter and a colon that the server does not know
; would never be answered; those are refused here.
command:
        lda buffer + 2
        cmp #':'
        bne @send
        lda buffer + 1
        and #$7F                ; either case
        ldx #3
@known:
        cmp letters,x
        beq @send
        dex
        bpl @known
        ldx #msg_syntax
        jsr print_text
        jmp ready
@send:
        ldx #0
@copy:
        lda buffer + 1,x
        beq @copied
        sta _dv_txbuf,x
        inx
        bne @copy
@copied:
        stx _dv_txlen
        jsr _dv_command
        jsr outcome
        jmp ready

letters:
        .byte "CSMR"

; Prints what the status in A means.
outcome:
        ldx #0
@find:
        ldy outcomes,x
        beq @print              ; the end of the table: a plain ERROR
        cmp outcomes,x
        beq @print
        inx
        inx
        bne @find
@print:
        lda outcomes + 1,x
        tax
        jmp print_text

outcomes:
        .byte st_ok, msg_ok, $84, msg_delete, $85, msg_rename
        .byte st_noanswer, msg_absent, st_abort, msg_break, st_repeat, msg_damaged
        .byte 0, msg_error

; @$: the listing, line by line as LIST shows it, straight to the screen.
listing:
        lda #'$'
        sta _dv_txbuf
        lda #1
        sta _dv_txlen
        lda #0
        sta state
        lda #<show
        sta _dv_sink
        lda #>show
        sta _dv_sink + 1
        lda #<nothing
        sta _dv_onopen
        lda #>nothing
        sta _dv_onopen + 1
        jsr _dv_load
        bcc @done
        jsr outcome
@done:
        jmp ready

nothing:
        rts

; Sink of @$: the image is the start address, then lines of a link, a number
; and the text up to a 0, until a link of 0.
;   state 0, 1 the start address; 2, 3 the link; 4, 5 the number; 6 the text;
;   7 the end.
show:
        ldx #0
@byte:
        cpx _dv_rxlen
        beq @done
        lda _dv_rxbuf,x
        inx
        ldy state
        cpy #6
        beq @text
        bcs @byte               ; past the end
        inc state
        cpy #2
        bne @not_link_lo
        sta link_lo
@not_link_lo:
        cpy #3
        bne @not_link_hi
        ora link_lo
        bne @byte
        lda #7
        sta state
        bne @byte
@not_link_hi:
        cpy #4
        bne @not_number_lo
        sta link_lo             ; the number's low byte, kept here meanwhile
@not_number_lo:
        cpy #5
        bne @byte
        stx @x + 1
        ldx link_lo
        jsr linprt
        lda #' '
        jsr chrout
@x:     ldx #$00
        jmp @byte
@text:
        cmp #0
        beq @end_of_line
        jsr chrout
        jmp @byte
@end_of_line:
        lda #13
        jsr chrout
        lda #2
        sta state
        bne @byte
@done:
        rts

; "DORVANE: DEVICE n" and a new line.
print_device:
        jsr print_device_number
        lda #13
        jmp chrout

print_device_number:
        ldx #msg_device
        jsr print_text
        ldx dv_device
        lda #0
        jmp linprt

; Prints the message at offset X of texts, up to its 0.
print_text:
        lda texts,x
        beq @done
        jsr chrout
        inx
        bne print_text
@done:
        rts

texts:
msg_ok = * - texts
        .byte "OK", 13, 0
msg_delete = * - texts
        .byte "?DELETE ERROR", 13, 0
msg_rename = * - texts
        .byte "?RENAME ERROR", 13, 0
msg_absent = * - texts
        .byte "?DEVICE NOT PRESENT", 13, 0
msg_break = * - texts
        .byte "BREAK", 13, 0
msg_damaged = * - texts
        .byte "?DAMAGED REPLY", 13, 0
msg_error = * - texts
        .byte "?COMMAND ERROR", 13, 0
msg_syntax = * - texts
        .byte "?SYNTAX ERROR", 13, 0
msg_device = * - texts
        .byte "DORVANE: DEVICE ", 0
