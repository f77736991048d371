; The line of the C64: a 6551 ACIA on the RS-232 cartridge in Turbo232 mode,
; 115200 baud, 8N1, RTS/CTS. Polled: interrupts stay masked and the screen blank
; while a request runs, so that neither the KERNAL nor the video chip takes
; cycles from the receive loop. Every register address is patched by acia_base,
; so the cartridge may sit at $DE00, $DF00 or $D700.
;
; Registers, from the base:
;   +0 data      read: the received byte; write: the byte to send
;   +1 status    bit 3 receive register full, bit 4 transmit register empty;
;                a write resets the chip
;   +2 command   bit 0 DTR (receiver on), bit 1 receive IRQ off,
;                bits 3-2 10 = RTS on, transmit IRQ off; 00 = RTS off
;   +3 control   bit 4 internal baud clock, bits 6-5 00 eight data bits,
;                bit 7 0 one stop bit, bits 3-0 0000 = Turbo232's own rate
;   +7 Turbo232 rate: 0 230400, 1 115200, 2 57600 baud

        .include "protocol.inc"

        .export line_get, line_put, line_drain, line_stop, line_open, line_close
        .export acia_base, acia_init
        .export _acia_base := acia_base       ; for the cycle count from C
        .import dv_linefail

rts_on  = %00001011
rts_off = %00000011
rate_115200 = $01

; Waits: 256 polls of about 17 cycles, times 255, times patience_rounds: about
; 2.2 seconds on a PAL C64 before the server counts as silent.
patience_rounds = 2

        .bss
save_x:         .res 1
save_y:         .res 1
poll_lo:        .res 1
poll_mid:       .res 1
poll_hi:        .res 1
mask:           .res 1
screen:         .res 1          ; $D011 as it was before the request

        .code

; A = the next byte; X and Y kept. With the byte already there, 24 cycles from
; the jsr to the rts.
line_get:
get_status:
        lda $DE01               ; 4  status
        and #$08                ; 2  receive register full?
        beq get_wait               ; 2
get_data:
        lda $DE00               ; 4  the byte; reading empties the register
        rts                     ; 6
get_wait:
        lda #$08
        jsr wait_status
get_data2:
        lda $DE00
        rts

; Writes A once the transmit register is empty (and CTS lets the chip send);
; A, X and Y kept.
line_put:
        pha
        lda #$10
        jsr wait_status
        pla
put_data:
        sta $DE00               ; data
        rts

; Waits until the status has a bit of A set. Ends the request through
; dv_linefail when the time runs out or RUN/STOP goes down. X and Y kept.
wait_status:
        sta mask
        lda #0
        sta poll_lo
        sta poll_mid
        lda #patience_rounds
        sta poll_hi
ws_poll:
wait_status_reg:
        lda $DE01               ; status
        and mask
        bne ws_ready
        dec poll_lo
        bne ws_poll
        jsr line_stop           ; every 256 polls
        bcs ws_stopped
        dec poll_mid
        bne ws_poll
        dec poll_hi
        bne ws_poll
        lda #line_timeout
        jmp dv_linefail
ws_stopped:
        lda #line_stopped
        jmp dv_linefail
ws_ready:
        rts

; Drops what arrives until the line has been quiet for about 20 ms: the rest of
; a damaged packet, or a reply nobody waits for any more. X and Y kept.
line_drain:
        stx save_x
        sty save_y
drain_quiet:
        ldy #6
        ldx #0
drain_poll:
drain_status:
        lda $DE01               ; status
        and #$08
        bne drain_drop
        dex
        bne drain_poll
        dey
        bne drain_poll
        ldx save_x
        ldy save_y
        rts
drain_drop:
drain_data:
        lda $DE00               ; data, dropped
        jmp drain_quiet

; Carry set while RUN/STOP is down: read from the keyboard matrix itself, since
; the KERNAL's interrupt does not run during a request. Only A changes.
line_stop:
        lda #$7F                ; column 7
        sta $DC00
        lda $DC01               ; row 7 reads 0 with RUN/STOP down
        eor #$80
        asl a
        rts

; A request begins: interrupts off, the screen blank, RTS on.
line_open:
        sei
        lda $D011
        sta screen
        and #$EF                ; DEN off: the video chip stops stealing cycles
        sta $D011
        lda #rts_on
command1:
        sta $DE02               ; command
        rts

; The request is over: RTS off (nothing takes bytes now), the screen back,
; interrupts on.
line_close:
        lda #rts_off
command2:
        sta $DE02               ; command
        lda screen
        sta $D011
        cli
        rts

; Sets the chip up once, at install: reset, 8N1 at 115200, RTS off.
acia_init:
reset_reg:
        sta $DE01               ; status: any write resets the chip
        lda #%00010000          ; internal clock, 8 data bits, 1 stop, Turbo232 rate
control_reg:
        sta $DE03               ; control
        lda #rate_115200
rate_reg:
        sta $DE07               ; Turbo232's rate register
        lda #rts_off
command3:
        sta $DE02               ; command
        rts

; Points every register access at the cartridge whose base page is in A ($DE,
; $DF or $D7).
acia_base:
        ldx #patches_end - patches - 1
@patch:
        ldy patches,x
        sta page_of,y
        dex
        bpl @patch
        rts

page_of = get_status + 2        ; the high bytes below are offsets from here
patches:
        .byte get_status + 2 - page_of, get_data + 2 - page_of
        .byte get_data2 + 2 - page_of, put_data + 2 - page_of
        .byte wait_status_reg + 2 - page_of, drain_status + 2 - page_of
        .byte drain_data + 2 - page_of, command1 + 2 - page_of
        .byte command2 + 2 - page_of, reset_reg + 2 - page_of
        .byte control_reg + 2 - page_of, rate_reg + 2 - page_of
        .byte command3 + 2 - page_of
patches_end:
