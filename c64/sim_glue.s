; Calls the hooks from C as the KERNAL does, and keeps what they leave in the
; registers: A, the carry, X/Y.

        .export _call_load, _call_save, _hook_a, _hook_carry, _hook_xy, _passed
        .import load_hook, save_hook, old_load, old_save

        .bss
_hook_a:        .res 1
_hook_carry:    .res 1
_hook_xy:       .res 2
_passed:        .res 1          ; the hook handed the device on

        .code
; void call_load(unsigned char verify)
_call_load:
        pha
        jsr install_old
        pla
        jsr load_hook
        jmp keep

_call_save:
        jsr install_old
        jsr save_hook
keep:
        sta _hook_a
        stx _hook_xy
        sty _hook_xy + 1
        lda #0
        rol a
        sta _hook_carry
        rts

install_old:
        lda #<other
        sta old_load
        sta old_save
        lda #>other
        sta old_load + 1
        sta old_save + 1
        rts

; The vectors found at install: another device's load or save.
other:
        inc _passed
        lda #0
        clc
        rts
