; The KERNAL's LOAD and SAVE for our device. The KERNAL jumps here through its
; vectors at $0330 and $0332 with its zero-page cells set (c64.inc); every other
; device goes on to the vectors found at install, so drives and tape still work.
; On the way out memory, the end address (X/Y and $AE/$AF), ST and the carry are as
; the KERNAL's own serial load and save leave them, and the messages are its own.

        .include "protocol.inc"
        .include "c64.inc"

        .export load_hook, save_hook, dv_device, old_load, old_save, hooks_name
        .import _dv_load, _dv_save, _dv_txbuf, _dv_txlen, _dv_rxbuf, _dv_rxlen
        .import _dv_sink, _dv_source, _dv_onopen
        .import k_searching, k_loading, k_saving
        .import k_err_notfound, k_err_nodevice, k_err_noname, k_err_notoutput

; Where this program lives on the C64: a load never writes there.
resident     = $C000
resident_end = $D000

        .data
dv_device:      .byte 8
old_load:       .addr 0
old_save:       .addr 0

        .bss
address_left:   .res 1          ; bytes of the file's start address still to come
address_lo:     .res 1

        .code

load_hook:
        ldx kdevice
        cpx dv_device
        beq @mine
        jmp (old_load)
@mine:
        sta kverify
        lda #0
        sta kstatus
        ldx knamelen
        bne @named
        jmp k_err_noname
@named:
        jsr k_searching
        jsr hooks_name
        lda kgiven              ; the end, should nothing arrive
        sta kpointer
        lda kgiven + 1
        sta kpointer + 1
        lda #2
        sta address_left
        lda #<store
        sta _dv_sink
        lda #>store
        sta _dv_sink + 1
        lda #<k_loading
        sta _dv_onopen
        lda #>k_loading
        sta _dv_onopen + 1
        jsr _dv_load
        bcc @loaded
        cmp #st_openerror
        bne @not_refused
        jmp k_err_notfound
@not_refused:
        cmp #st_noanswer
        bne @not_silent
        jmp k_err_nodevice
@not_silent:
        cmp #st_abort
        beq break
        lda #$10                ; damaged beyond repair: BASIC says LOAD ERROR
        ora kstatus
        sta kstatus
@loaded:
        lda #$40
        ora kstatus
        sta kstatus
        ldx kpointer
        ldy kpointer + 1
        clc
        rts

; RUN/STOP: BASIC prints BREAK for error 0.
break:
        lda #0
        sec
        rts

save_hook:
        ldx kdevice
        cpx dv_device
        beq @mine
        jmp (old_save)
@mine:
        lda #0
        sta kstatus
        ldx knamelen
        bne @named
        jmp k_err_noname
@named:
        jsr k_saving
        jsr hooks_name
        lda ksave
        sta ksavepos
        lda ksave + 1
        sta ksavepos + 1
        lda #2
        sta address_left
        lda #<fetch
        sta _dv_source
        lda #>fetch
        sta _dv_source + 1
        jsr _dv_save
        bcc @saved
        cmp #st_abort
        beq break
        cmp #st_noanswer
        bne @refused
        jmp k_err_nodevice
@refused:
        jmp k_err_notoutput
@saved:
        clc
        rts

; The KERNAL's file name as the request's name.
hooks_name:
        ldy #0
@copy:
        lda (kname),y
        sta _dv_txbuf,y
        iny
        cpy knamelen
        bne @copy
        sty _dv_txlen
        rts

; Sink: a received block into memory (or compared with it for VERIFY). Its first
; two bytes are the file's start address: with secondary address 0 the load
; goes to the address given instead.
store:
        ldx #0
@byte:
        cpx _dv_rxlen
        beq @done
        lda _dv_rxbuf,x
        inx
        ldy address_left
        bne @address
        ldy kverify
        bne @compare
        ldy kpointer + 1
        cpy #>resident
        bcc @store
        cpy #>resident_end
        bcc @ours
@store:
        ldy #0
        sta (kpointer),y
@advance:
        inc kpointer
        bne @byte
        inc kpointer + 1
        jmp @byte
@compare:
        ldy #0
        cmp (kpointer),y
        beq @advance
@failed:
        lda #$10
        ora kstatus
        sta kstatus
        jmp @advance
@ours:                          ; a byte over this program would crash it: the
        jmp @failed             ; load goes on without it and ends in LOAD ERROR
@address:
        dec address_left
        beq @high
        sta address_lo
        jmp @byte
@high:
        ldy ksecond
        beq @given
        sta kpointer + 1
        sta kgiven + 1
        lda address_lo
        sta kpointer
        sta kgiven
        jmp @byte
@given:
        lda kgiven
        sta kpointer
        lda kgiven + 1
        sta kpointer + 1
        jmp @byte
@done:
        rts

; Source: the next block of memory, from $C1/$C2 up to the end at $AE/$AF, after
; the two bytes of the start address.
fetch:
        ldx #0
        lda address_left
        beq @byte
        lda ksave
        sta _dv_txbuf
        lda ksave + 1
        sta _dv_txbuf + 1
        lda #0
        sta address_left
        ldx #2
@byte:
        cpx #255
        beq @done
        lda ksavepos
        cmp kpointer
        lda ksavepos + 1
        sbc kpointer + 1
        bcs @done               ; the end reached
        ldy #0
        lda (ksavepos),y
        sta _dv_txbuf,x
        inx
        inc ksavepos
        bne @byte
        inc ksavepos + 1
        jmp @byte
@done:
        stx _dv_txlen
        rts
